#!/usr/bin/env python3
"""Fuzz target for the module through the interpreter (atheris): python fuzz/module_fuzz.py
[libFuzzer options] [corpus...]. Each input is read as a few calls: Pemrik with documented
arguments, whose command line, and the export of a collection of such requests, must be what
tests/support/oracles.py says; and Pemrik, PemrikCollection and add_request with arguments of many
kinds, which may only succeed or raise TypeError or ValueError. No call changes reference counts."""

import gc
import itertools
import sys
from pathlib import Path

import atheris

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))
from support.oracles import METHODS, curl_line, export_text

Text, Pair, Seq = type("Text", (str,), {}), type("Pair", (tuple,), {}), type("Seq", (list,), {})
RUNS = itertools.count()


def documented(data):
    """Arguments for Pemrik as documented: (url, [(name, value)], method name, body or None)."""
    text = [data.ConsumeUnicodeNoSurrogates(data.ConsumeIntInRange(0, 24)) for _ in range(8)]
    method = METHODS[data.ConsumeIntInRange(0, len(METHODS) - 1)]
    pairs = list(zip(text[1:7:2], text[2:7:2], strict=True))[: data.ConsumeIntInRange(0, 3)]
    return text[0], pairs, method, text[7] if data.ConsumeBool() else None


def value(data, made, depth=0):
    """A text of a str subclass (lone surrogates maybe), a method, None, or a container."""
    kind = data.ConsumeIntInRange(0, 8 if depth < 3 else 3)
    if kind == 0:
        return Text(data.ConsumeUnicode(data.ConsumeIntInRange(0, 24)))
    if kind == 1:
        return getattr(HTTPMETHOD, METHODS[data.ConsumeIntInRange(0, len(METHODS) - 1)])
    if kind < 4:
        return made[data.ConsumeIntInRange(0, len(made) - 1)] if made and kind == 2 else None
    items = [value(data, made, depth + 1) for _ in range(data.ConsumeIntInRange(0, 3))]
    return [list, tuple, Pair, Seq, iter][kind - 4](items)


def outcome(call, *args):
    try:
        return "ok", call(*args)
    except Exception as e:
        return type(e), str(e)


def reachable(o):  # less what the interpreter shares everywhere
    if not (o is None or (type(o) in (str, tuple) and len(o) < 2)):
        yield o
    for item in o if isinstance(o, (list, tuple)) else ():
        yield from reachable(item)


def call(target, *args):
    watched = [o for a in args for o in reachable(a)]
    before = [sys.getrefcount(o) for o in watched]
    got = outcome(target, *args)
    assert got[0] == "ok" or issubclass(got[0], (TypeError, ValueError)), (target, got)
    assert [sys.getrefcount(o) for o in watched] == before, (target, "changed reference counts")
    return got


def TestOneInput(data):
    if next(RUNS) % 256 == 0:  # collected only here: within a call it would change the counts
        gc.collect()
    data = atheris.FuzzedDataProvider(data)
    made, known, collections = [], {}, []  # known: id() of a request to its oracle arguments
    for _ in range(data.ConsumeIntInRange(1, 6)):
        if (op := data.ConsumeIntInRange(0, 3)) == 0:
            args = documented(data)
            got = call(Pemrik, *args[:2], getattr(HTTPMETHOD, args[2]), args[3])
            assert got[0] == "ok", (args, got)
            made.append(got[1])
            known[id(got[1])] = args
            continue
        args = [value(data, made) for _ in range(data.ConsumeIntInRange(0, 4))]
        if op == 3 and collections:
            if call(collections[-1][0].add_request, *args)[0] == "ok":
                collections[-1][1].extend(args)
        elif (got := call(Pemrik if op == 1 else PemrikCollection, *args))[0] == "ok":
            made.append(got[1])
            if op == 2:  # its items, known when given as a list or tuple of known requests
                given = args[0] if args and args[0] is not None else []
                collections.append((got[1], list(given) if type(given) in (list, tuple) else [0]))
    for request in (o for o in made if type(o) is Pemrik):
        got = call(request.get_request_command)
        assert id(request) not in known or got == outcome(curl_line, *known[id(request)]), got
    for collection, items in collections:
        got = call(collection.export_collection)
        if all(id(item) in known for item in items):
            assert got == outcome(export_text, [known[id(i)] for i in items]), got


if __name__ == "__main__":
    gc.disable()
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()
