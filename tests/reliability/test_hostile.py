"""Hostile scripts: sequences that lie, raise or call back into the module (from this thread and
from another), finalizers run by the collector inside calls, interrupts and internal failures from
script code; and every workflow of support/workflows.py leaves nothing behind."""

import gc
import json
import os
import sys
import threading
import weakref

import pytest
from hypothesis import given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD as M
from pemrik import Pemrik, PemrikCollection
from support.cases import lines
from support.hostile import IterSeq, Seq
from support.oracles import curl_line
from support.workflows import OPERATIONS, PANIC, THROUGH_SEQUENCES, exercise, objects

U, HS = "https://h/p", [("H1", "v1"), ("H2", "v2")]
SHARED, LINE = Pemrik(U, HS, M.GET, "x"), curl_line(U, HS, "GET", "x")
MAKE = {"headers": lambda s: Pemrik(U, s, M.GET), "collection": PemrikCollection}


def outcome(call, *args):
    try:
        return lines(call(*args))
    except Exception as e:
        return type(e), str(e)


# A length hint that fails with an ordinary exception (MemoryError is one) is only passed over.
LENGTHS = st.sampled_from([-1, 0, 3, 2**31, 2**70, "x", ValueError(), TypeError(), MemoryError()])


@given(st.sampled_from([Seq, IterSeq]), st.integers(0, 5), LENGTHS, st.sampled_from([None, KeyError(1), ValueError(), TypeError(2)]))  # fmt: skip
def test_any_sequence_gives_what_it_yields_or_its_error(seq, n, length, fail):
    reqs = [Pemrik(f"{U}/{i}", [], M.PUT) for i in range(n)]
    made = {
        "headers": (HS * n, curl_line(U, HS * n, "GET", None)),
        "collection": (reqs, lines(reqs)),
    }
    for arg, (items, expected) in made.items():  # a TypeError is reported as the argument's
        error = fail and (type(fail), f"argument '{arg}': " * (type(fail) is TypeError) + str(fail))
        assert outcome(MAKE[arg], seq(items + [fail][: bool(fail)], length)) == (error or expected)


def released(cb, items):  # an iterator that calls back when it is let go of
    weakref.finalize(iterator := (item for item in items), cb)
    return iterator


CALLBACKS = [  # (outer call, given the callback and the collection it changes; its outcome)
    (lambda cb, c: Pemrik(U, Seq(HS, hook=cb), M.DELETE, "b"), curl_line(U, HS, "DELETE", "b")),
    (lambda cb, c: PemrikCollection(IterSeq([SHARED, SHARED], hook=cb)), [LINE] * 2),
    (lambda cb, c: PemrikCollection(type("L", (list,), {"__iter__": lambda s: released(cb, s[:])})([SHARED])), [LINE]),
    (lambda cb, c: Pemrik(U, Seq([TypeError(type("S", (), {"__str__": lambda s: cb() or "hook"})())]), M.GET), (TypeError, "argument 'headers': hook")),
    (lambda cb, c: Pemrik(U, Seq([type("Odd", (), {"__qualname__": "Odd\ud800"})()], hook=cb), M.GET),
     (TypeError, "argument 'headers': '<failed to extract type name>' object cannot be converted to 'PyTuple'")),
    # a keyword name turned into text before the receiver is borrowed
    (lambda cb, c: c.add_request(**{type("K", (str,), dict(__str__=lambda k: cb() or "shown", __eq__=lambda k, o: False, __hash__=str.__hash__))("k"): SHARED}),
     (TypeError, "PemrikCollection.add_request() got an unexpected keyword argument 'shown'")),
]  # fmt: skip


@pytest.mark.parametrize("make, expected", CALLBACKS)
def test_callbacks_into_the_module(make, expected):
    c, seen = PemrikCollection(), []

    def everything():  # what the module offers, on the collection and the shared request
        c.add_request(SHARED)
        exported = json.loads(c.export_collection())["item"]
        seen.append([SHARED.get_request_command(), repr(M.GET), int(M.CONNECT), M.GET == M.GET])
        seen[-1] += [len(c.get_collection()) - len(seen), len(exported) - len(seen)]

    def poke(*_):  # from this thread, and from another one while this one waits in the call
        everything()
        (thread := threading.Thread(target=everything)).start()
        thread.join()

    everything()
    assert outcome(make, poke, c) == expected
    assert len(seen) > 1 and seen == seen[:1] * len(seen)


def test_finalizers_run_by_the_collector_inside_module_calls():
    c, r, outcomes = PemrikCollection([SHARED]), SHARED, []  # may meet a borrow of the collection
    calls = (lambda: c.add_request(r), c.get_collection, c.export_collection)
    garbage = type("Garbage", (), {"__del__": lambda g: outcomes.extend(map(outcome, calls))})
    ops = [c.export_collection, lambda: c.add_request(1)]
    threshold = gc.get_threshold()
    gc.set_threshold(1, 1, 1)
    try:
        for op in ops * 150:
            g = garbage()
            g.me, g = g, None  # freed by the collector only
            assert outcome(op)[0] is not RuntimeError
    finally:
        gc.set_threshold(*threshold)
    borrowed = {(RuntimeError, "Already borrowed"), (RuntimeError, "Already mutably borrowed")}
    assert {o for o in outcomes if isinstance(o, tuple)} <= borrowed
    assert len(c.get_collection()) == 1 + outcomes[::3].count(None)


# Anything but an ordinary exception from script code ends the call: an interrupt unchanged (the
# items' are in the call table), an internal failure raised again as a new one with the same
# text, or MemoryError when it has none.
@pytest.mark.parametrize("arg, item", [("headers", ("A", "b")), ("collection", SHARED)])
@pytest.mark.parametrize("at_len, raised, expected", [
    (True, KeyboardInterrupt("len"), None),
    (True, PANIC("len"), (PANIC, "len")),
    (False, PANIC("lone \ud800 surrogate"), (PANIC, "lone " + "\ufffd" * 3 + " surrogate")),
    (False, type("U", (PANIC,), {"__str__": lambda s: 1 / 0})(), (PANIC, "Unwrapped panic from Python code")),
    (False, type("U", (PANIC,), {"__str__": lambda s: Seq([MemoryError()])[0]})(), (MemoryError, "")),
])  # fmt: skip
def test_exceptions_from_script_code(at_len, raised, expected, arg, item):
    with pytest.raises(BaseException) as caught:
        MAKE[arg](Seq([item], raised) if at_len else Seq([raised]))
    got = caught.value
    assert got is raised if expected is None else (type(got), str(got), got is not raised) == (*expected, True)  # fmt: skip


def test_workflows_leave_counts_and_memory_as_they_were():  # scripts/tasks/valgrind.sh runs them too
    ns = objects(50_000)
    tracked = [*ns["STATIC"], *ns["REQS"], *ns["HEADERS"], *(t for h in ns["HEADERS"] for t in h)]
    tracked += [ns[k] for k in ("URL", "ASCII", "HEADERS", "BODY", "REQS", "SURROGATE")]

    def state(rounds):  # resident bytes and every tracked object's count after `rounds` rounds
        exercise(OPERATIONS + THROUGH_SEQUENCES, ns, rounds)
        gc.collect()
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096, [sys.getrefcount(o) for o in tracked]

    (resident, counts), (now, after) = state(20), state(60)
    assert [(repr(o)[:40], a, b) for o, a, b in zip(tracked, counts, after, strict=True) if a != b] == []  # fmt: skip
    # Losing one text of 50,000 characters per round would add 3 MB or more; the sanitizer
    # runtime keeps freed memory.
    assert os.environ.get("PEMRIK_SANITIZED") or now - resident < 2_000_000
