#!/usr/bin/env python3
"""Fuzz target for the module through the interpreter, driven by atheris:

    python fuzz/module_fuzz.py [libFuzzer options] [corpus folders or files]

Each input is a short script of constructor and add_request calls (see
module_input.py) with arguments of every kind: texts with any character,
lone surrogates, str and tuple subclasses, tuples of the wrong length,
sequences of the script's own, None and values of the wrong type. Every call
must give exactly what module_oracle.py works out (the result, or the
exception of the specified type with its exact message), must leave the
reference counts of its arguments as they were, and every request and
collection made must render and export as the oracle says.
"""

import gc
import os
import sys

import atheris

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

with atheris.instrument_imports():
    import module_input
    import module_oracle

from module_oracle import Refused

from pemrik import Pemrik, PemrikCollection


class Mismatch(AssertionError):
    pass


def check(condition, *what):
    if not condition:
        raise Mismatch(*what)


def counts(objects):
    return [sys.getrefcount(o) for o in objects]


def shared(o):
    """Objects the interpreter hands out everywhere (immortal from 3.12 on):
    before that their counts move with anything it does, so they say nothing
    about the call."""
    if o is None or o is True or o is False or o is Ellipsis or o is NotImplemented:
        return True
    if type(o) is int:
        return -5 <= o <= 256
    return type(o) is str and (len(o) == 0 or (len(o) == 1 and ord(o) < 256))


def tracked(args):
    """The arguments and everything inside them whose count a call could change."""
    out, stack = [], list(args)
    while stack:
        o = stack.pop()
        if shared(o):
            continue
        out.append(o)
        if isinstance(o, (list, tuple)):
            stack.extend(o)
        elif isinstance(o, module_input.Seq):
            stack.extend(o.items)
    return out


def outcome(call, args, kwargs):
    """Runs the call; gives ("ok", result) or ("raise", type, message, encoding error or None)."""
    try:
        return ("ok", call(*args, **kwargs))
    except Exception as e:
        return ("raise", type(e), str(e))


def compare(got, expected, where):
    if isinstance(expected, Refused):
        check(got[0] == "raise", where, "expected", expected.kind, expected.message, "got", got)
        check(
            got[1] is expected.kind and got[2] == expected.message,
            where,
            "expected",
            expected.kind,
            expected.message,
            "got",
            got[1],
            got[2],
        )
    else:
        check(got[0] == "ok", where, "expected success, got", got)


def run_call(target, args, kwargs, expect):
    """One call with reference counts checked around it (the result dropped first)."""
    watched = tracked(list(args) + list(kwargs.values()))
    before = counts(watched)
    got = outcome(target, args, kwargs)
    result = got[1] if got[0] == "ok" else None
    got = got if got[0] == "raise" else ("ok",)
    compare(got, expect, target)
    check(counts(watched) == before, target, "changed reference counts", before, counts(watched))
    return result


def expectation(work, *args):
    try:
        return work(*args)
    except Refused as e:
        return e


def TestOneInput(data):
    made, records = [], {}  # records: id() of each live Pemrik made here -> its record
    collections = []  # (collection, stored records or None)
    for op, fields in module_input.calls(data):
        args = [module_input.value(f, made) for f in fields]
        kind = op % 3
        if kind == 0:
            kwargs = {}
            if op & 0x40 and len(args) <= 4:
                kwargs, args = dict(zip(module_input.PARAMETERS, args, strict=False)), []
            expect = expectation(
                module_oracle.new_request, list(args) + list(kwargs.values()), records
            )
            obj = run_call(Pemrik, args, kwargs, expect)
            if obj is not None:
                records[id(obj)] = expect
                made.append(obj)
        elif kind == 1:
            expect = expectation(module_oracle.new_collection, args, records)
            obj = run_call(PemrikCollection, args, {}, expect)
            if obj is not None:
                collections.append([obj, expect])
                made.append(obj)
        else:
            if not collections:
                collections.append([PemrikCollection(), None])
            entry = collections[-1]
            expect = expectation(module_oracle.add_request, entry[1], args, records)
            run_call(entry[0].add_request, args, {}, expect)
            if not isinstance(expect, Refused):
                entry[1] = expect

    for obj in made:
        if type(obj) is Pemrik:
            check(
                obj.get_request_command() == module_oracle.command(records[id(obj)]),
                "command",
                records[id(obj)],
            )
    for collection, stored in collections:
        got = collection.get_collection()
        if stored is None:
            check(got is None, "get_collection of an absent list", got)
        else:
            check(
                [r.get_request_command() for r in got]
                == [module_oracle.command(r) for r in stored],
                "get_collection",
                stored,
            )
        expect = expectation(module_oracle.export, stored)
        text = run_call(collection.export_collection, [], {}, expect)
        if not isinstance(expect, Refused):
            check(text == expect, "export_collection", stored, text)


inputs = 0


def TestOneInputCollecting(data):
    # The collector runs only here, between inputs: a collection during a
    # call would free cycles that refer to watched objects and change their
    # counts.
    global inputs
    inputs += 1
    if inputs % 256 == 0:
        gc.collect()
    TestOneInput(data)


def main():
    atheris.Setup(sys.argv, TestOneInputCollecting)
    gc.disable()
    atheris.Fuzz()


if __name__ == "__main__":
    main()
