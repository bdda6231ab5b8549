"""Hostile scripts: sequences that lie, raise or call back into the module (from this thread and
from others), finalizers run by the collector inside calls, interrupts and internal failures
from script code, huge texts."""

import gc
import json
import threading

import pytest
from hypothesis import given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD as M
from pemrik import Pemrik, PemrikCollection
from support.cases import lines
from support.hostile import IterSeq, Seq
from support.oracles import curl_line, export_text
from support.workflows import PANIC

U = "https://h/p"
SHARED = Pemrik("https://h/shared", [("A", "b")], M.GET, "x")
LINE = SHARED.get_request_command()


def outcome(call):
    try:
        return call()
    except Exception as e:
        return type(e), str(e)


MAKE = {"headers": lambda s: Pemrik(U, s, M.GET), "collection": PemrikCollection}
# a length hint that fails with an ordinary exception (MemoryError is one) is only passed over
LENGTHS = st.sampled_from([-1, 0, 3, 2**31, 2**70, "x", ValueError(), TypeError(), MemoryError()])
SEQS = st.sampled_from([Seq, IterSeq])
FAIL = st.tuples(st.integers(0, 4), st.sampled_from([KeyError("k"), ValueError(), TypeError("t")]))


@given(st.sampled_from(list(MAKE)), st.integers(0, 5), SEQS, LENGTHS, st.none() | FAIL)
def test_any_sequence_gives_what_it_yields_or_its_error(arg, n, seq, length, fail):
    headers = arg == "headers"
    items = [(f"N{i}", f"v{i}") if headers else Pemrik(f"{U}/{i}", [], M.PUT) for i in range(n)]
    given = items[: fail[0]] + [fail[1]] if fail and fail[0] <= n else items
    expected = curl_line(U, items, "GET", None) if headers else lines(items)
    if given is not items:  # a TypeError is reported as the argument's
        where = f"argument '{arg}': " if type(fail[1]) is TypeError else ""
        expected = type(fail[1]), where + str(fail[1])
    assert outcome(lambda: lines(MAKE[arg](seq(given, length)))) == expected


class Hook:
    """Calls back when turned into text or freed; as an iterator, yields `items`."""

    def __init__(self, callback, items=()):
        self.callback, self.items = callback, iter(items)

    def __str__(self):
        return self.callback() or "hook"

    def __next__(self):
        return next(self.items)

    def __del__(self):
        self.callback()


def garbage(callback):  # freed by the collector only, which calls back then
    hook = Hook(callback)
    hook.me = hook


def keyword(cb):  # a keyword name turned into text before the receiver is borrowed
    own = dict(__str__=lambda k: cb() or "shown", __eq__=lambda k, o: False, __hash__=str.__hash__)
    return type("Key", (str,), own)("bogus")


def released(cb):  # a list whose iterator is released inside the call
    return type("Released", (list,), {"__iter__": lambda s: Hook(cb, s[:])})([SHARED])


HS = [("H1", "v1"), ("H2", "v2")]
CALLBACKS = [  # (outer call, given the callback and the collection it changes; its outcome)
    (lambda cb, c: Pemrik(U, Seq(HS, hook=cb), M.DELETE, "b"), curl_line(U, HS, "DELETE", "b")),
    (lambda cb, c: PemrikCollection(IterSeq([SHARED, SHARED], hook=cb)), [LINE] * 2),
    (lambda cb, c: PemrikCollection(released(cb)), [LINE]),
    (lambda cb, c: Pemrik(U, Seq([TypeError(Hook(cb))]), M.GET), (TypeError, "argument 'headers': hook")),
    (lambda cb, c: c.add_request(**{keyword(cb): SHARED}), (TypeError, "PemrikCollection.add_request() got an unexpected keyword argument 'shown'")),
]  # fmt: skip


@pytest.mark.parametrize("make, expected", CALLBACKS)
def test_callbacks_into_the_module(make, expected):
    c, seen = PemrikCollection(), []

    def everything():  # the module offers, on the collection and the shared request
        c.add_request(SHARED)
        exported = json.loads(c.export_collection())["item"]
        seen.append([SHARED.get_request_command(), repr(M.GET), int(M.CONNECT), M.GET == M.GET])
        seen[-1] += [len(c.get_collection()) - len(seen), len(exported) - len(seen)]

    def poke(*_):  # from this thread, and from another one while this one waits in the call
        everything()
        (thread := threading.Thread(target=everything)).start()
        thread.join()

    assert outcome(lambda: lines(make(poke, c))) == expected
    assert seen and seen == [[LINE, "HTTPMETHOD.GET", 8, True, 0, 0]] * len(seen)


def test_finalizers_run_by_the_collector_inside_module_calls():
    # They can run while the module holds a borrow of the very collection.
    c, r, outcomes = PemrikCollection([SHARED]), SHARED, []
    calls = (lambda: c.add_request(r), c.get_collection, c.export_collection, r.get_request_command)
    ops = [lambda: len(c.get_collection()) <= len(json.loads(c.export_collection())["item"])]
    ops += [
        lambda: PemrikCollection(c.get_collection() + [r]),
        lambda: outcome(lambda: c.add_request("x"))[0] is TypeError,
    ]
    threshold = gc.get_threshold()
    gc.set_threshold(1, 1, 1)
    try:
        for op in ops * 100:
            garbage(lambda: outcomes.extend(map(outcome, calls)))
            assert op()
    finally:
        gc.set_threshold(*threshold)
        gc.collect()
    borrowed = {(RuntimeError, "Already borrowed"), (RuntimeError, "Already mutably borrowed")}
    assert {o for o in outcomes if isinstance(o, tuple)} <= borrowed
    assert len(c.get_collection()) == 1 + outcomes[::4].count(None)


def test_huge_texts_and_unreadable_type_names():
    text = ("a" * 60 + "'é\x01") * 250_000  # 16 MB with quotes and escapes, in every field
    fields = "https://" + text + "/p", [(text, text)], "TRACE", text
    r = Pemrik(*fields[:2], M.TRACE, text)
    assert r.get_request_command() == curl_line(*fields)
    assert PemrikCollection([r]).export_collection() == export_text([fields])
    odd = type("Odd", (), {"__qualname__": "Odd\ud800"})()
    message = "'<failed to extract type name>' object cannot be converted to 'PyTuple'"
    assert outcome(lambda: Pemrik(U, [odd], M.GET)) == (TypeError, "argument 'headers': " + message)


def unprintable(error):  # Seq raises the exceptions it holds
    return type("Unprintable", (PANIC,), {"__str__": lambda s: Seq([error])[0]})()


# Anything but an ordinary exception from script code ends the call: an interrupt unchanged, an
# internal failure raised again as a new one with the same text, or MemoryError when it has none.
@pytest.mark.parametrize(
    "at, raised, expected",
    [
        ("len", KeyboardInterrupt("len"), "same"),
        ("len", PANIC("len"), (PANIC, "len")),
        ("item", KeyboardInterrupt("item"), "same"),
        ("item", PANIC("lone \ud800 surrogate"), (PANIC, "lone " + "\ufffd" * 3 + " surrogate")),
        ("item", unprintable(ValueError("no text")), (PANIC, "Unwrapped panic from Python code")),
        ("item", unprintable(MemoryError()), (MemoryError, "")),
    ],
)
@pytest.mark.parametrize("arg, item", [("headers", ("A", "b")), ("collection", SHARED)])
def test_exceptions_from_script_code(at, raised, expected, arg, item):
    seq, make = Seq([item], raised) if at == "len" else Seq([raised]), MAKE[arg]
    with pytest.raises(BaseException) as caught:
        make(seq)
    if expected == "same":
        assert caught.value is raised
    else:
        assert (type(caught.value), str(caught.value)) == expected and caught.value is not raised
