"""Hostile scripts: lying, raising or calling sequences, finalizers, let-go objects, leaks."""

import functools
import gc
import os
import sys
from concurrent.futures import ThreadPoolExecutor

import pytest
from hypothesis import given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD as M
from pemrik import Pemrik, PemrikCollection
from support.cases import lines, outcome
from support.child import run_child
from support.hostile import IterSeq, Seq
from support.oracles import curl_line, export_text
from support.workflows import OPERATIONS, PANIC, THROUGH_SEQUENCES, Unprintable, exercise, objects

U, HS = "https://h/p", [("H1", "v1"), ("H2", "v2")]
SHARED, LINE = Pemrik(U, HS, M.GET, "x"), curl_line(U, HS, "GET", "x")
MAKE = {"headers": lambda s: Pemrik(U, s, M.GET), "collection": PemrikCollection}


# A length hint that fails with an ordinary exception (MemoryError is one) is only passed over.
LENGTHS = st.sampled_from([-1, 0, 3, 2**31, 2**70, "x", ValueError(), TypeError(), MemoryError()])


@given(st.sampled_from([Seq, IterSeq]), st.integers(0, 5), LENGTHS)
def test_any_sequence_gives_what_it_yields(seq, n, length):
    reqs, hs = [Pemrik(f"{U}/{i}", [], M.PUT) for i in range(n)], HS * n
    assert lines(Pemrik(U, seq(hs, length), M.GET)) == curl_line(U, hs, "GET", None)
    assert lines(PemrikCollection(seq(reqs, length))) == lines(reqs)


def shown(callback, base=object):  # a class whose str() calls back, then reads "shown"
    methods = {"__str__": lambda s: callback() or "shown", "__eq__": lambda s, o: False}
    return type("Shown", (base,), {**methods, "__hash__": base.__hash__})


SHOWN = "argument 'headers': shown"  # the TypeError's text, read after the callback
UNEXPECTED = "PemrikCollection.add_request() got an unexpected keyword argument 'shown'"
CALLBACKS = [  # (outer call, given the callback and the collection it changes; its outcome)
    (lambda cb, c: Pemrik(U, Seq(HS, hook=cb), M.DELETE, "b"), curl_line(U, HS, "DELETE", "b")),
    (lambda cb, c: PemrikCollection(IterSeq([SHARED, SHARED], hook=cb)), [LINE] * 2),
    (lambda cb, c: Pemrik(U, Seq([TypeError(shown(cb)())]), M.GET), (TypeError, SHOWN)),
    # a keyword name turned into text before the receiver is borrowed
    (lambda cb, c: c.add_request(**{shown(cb, str)("k"): SHARED}), (TypeError, UNEXPECTED)),
]


@pytest.mark.parametrize("make, expected", CALLBACKS)
def test_callbacks_into_the_module(make, expected):
    c = PemrikCollection()

    def everything():  # what the module offers, on the collection and the shared request
        c.add_request(SHARED)
        n, text = len(c.get_collection()), c.export_collection()
        assert text == export_text([(U, HS, "GET", "x")] * n) and lines(SHARED) == LINE

    def poke(*_):  # from this thread, then from another one while this one waits in the call
        everything()
        ThreadPoolExecutor(1).submit(everything).result()

    assert lines(outcome(make, poke, c)) == expected and len(c.get_collection()) > 1


def test_finalizers_run_by_the_collector_inside_module_calls():
    c, outcomes, ops = PemrikCollection([SHARED]), [], []  # a finalizer may meet a borrow of c
    calls = (lambda: c.add_request(SHARED), c.get_collection, c.export_collection)
    garbage = type("Garbage", (), {"__del__": lambda g: outcomes.extend(map(outcome, calls))})
    threshold = gc.get_threshold()
    gc.set_threshold(1, 1, 1)
    for op in [c.export_collection, lambda: c.add_request(1)] * 150:
        g = garbage()
        g.me, g = g, None  # freed by the collector only
        ops.append(outcome(op)[0])
    gc.set_threshold(*threshold)
    assert RuntimeError not in ops
    borrowed = {(RuntimeError, "Already borrowed"), (RuntimeError, "Already mutably borrowed")}
    assert {o for o in outcomes if isinstance(o, tuple)} <= borrowed
    assert len(c.get_collection()) == 1 + outcomes[::3].count(None)


NO_TEXT = type("NoText", (PANIC,), {"__str__": lambda s: Seq([MemoryError()])[0]})()
FAILING = [  # raised by __len__ or else by the item; what the call raises, and whether the same
    (True, KeyboardInterrupt("len"), (KeyboardInterrupt, "len", True)),
    (True, PANIC("len"), (PANIC, "len", False)),
    (False, PANIC("lone \ud800 surrogate"), (PANIC, "lone \ufffd\ufffd\ufffd surrogate", False)),
    (False, Unprintable(), (PANIC, "Unwrapped panic from Python code", False)),
    (False, NO_TEXT, (MemoryError, "", False)),
]


@pytest.mark.parametrize("arg, item", [("headers", ("A", "b")), ("collection", SHARED)])
@pytest.mark.parametrize("at_len, raised, expected", FAILING)
def test_exceptions_from_script_code(at_len, raised, expected, arg, item):
    with pytest.raises(BaseException) as caught:
        MAKE[arg](Seq([item], raised) if at_len else Seq([raised]))
    assert (type(caught.value), str(caught.value), caught.value is raised) == expected


def test_workflows_leave_counts_and_memory_as_they_were():  # valgrind.sh runs them too
    ns = objects(50_000)
    tracked = [*ns["STATIC"], *ns["REQS"], *ns["HEADERS"], *(t for h in ns["HEADERS"] for t in h)]
    tracked += [ns[k] for k in ("URL", "ASCII", "HEADERS", "BODY", "REQS", "SURROGATE")]

    def state(rounds):  # resident bytes and every tracked object's count after `rounds` rounds
        exercise(OPERATIONS + THROUGH_SEQUENCES, ns, rounds)
        gc.collect()
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096, [sys.getrefcount(o) for o in tracked]

    (resident, counts), (now, after) = state(20), state(60)
    moved = [(repr(o)[:40], a, b) for o, a, b in zip(tracked, counts, after, strict=True) if a != b]
    assert moved == []
    # Losing a text of 50,000 characters a round would add 3 MB or more (a sanitizer keeps memory).
    assert os.environ.get("PEMRIK_SANITIZED") or now - resident < 2_000_000


# Run in a child whose freed memory is unmapped or overwritten at once, so that a pointer kept too
# long shows: let_go(), the call's arguments let go of in a sequence's callback or a finalizer run
# inside the call; pairs(), header pairs made as they are read, held by nobody else.


def text(c):  # a new one each time
    return c * (4 << 20) + "é"


def pair(i):
    return "N" + str(i) + "n" * (256 << 10), "v'$`\x01" * (64 << 10) + str(i) + "é"


def called(kind, cls):  # the lines made, and whether the caller let go in callback `kind` (if any)
    def hook(callback, i):
        if callback == kind and i in (None, 1):
            held.__setstate__((print, (), {}, None))

    seq = functools.partial(IterSeq if kind in ("__iter__", "__next__") else Seq, hook=hook)

    def fields(wrap):
        return text("u"), wrap([(text("n"), text("v")), ("S", text("s"))]), M.PUT, text("b")

    def arguments():  # held by the partial alone
        return fields(seq) if cls is Pemrik else [seq([Pemrik(*fields(list))] * 2)]

    held = functools.partial(cls, *arguments())
    if kind == "__del__":  # the free lists drained, so that the module's allocations allocate
        _drained = [tuple([i] * n) for i in range(3000) for n in range(1, 6)]  # kept till return
        cyclic = {"__init__": lambda g: setattr(g, "me", g), "__del__": lambda g: hook(kind, None)}
        type("Garbage", (), cyclic)()  # freed by the collector only
        gc.set_threshold(1)
    return lines(held()), kind is None or held.func is print


def let_go(kind, cls, init=False):  # init: an __init__ of the script's, called by type.__call__
    if init:
        Pemrik.__init__ = lambda *args, **kwargs: None
    assert called(kind, cls) == called(None, cls)


def pairs(n):
    items = type("Pairs", (), dict(__len__=lambda s: n, __getitem__=lambda s, i: pair(range(n)[i])))
    expected = curl_line("/p", [*map(pair, range(n))], "PUT", None)
    assert Pemrik("/p", items(), M.PUT).get_request_command() == expected


KINDS = ["__len__", "__iter__", "__next__", "__getitem__", "__del__"]
CALLERS = ["Pemrik", "Pemrik, init=True", "PemrikCollection"]
CHECKS = [f"let_go({kind!r}, {caller})" for caller in CALLERS for kind in KINDS]
CHECKS += [f"pairs({n})" for n in (8, 9, 40)]
ENV = {"MALLOC_MMAP_THRESHOLD_": str(128 << 10)}
ENV |= {} if os.environ.get("PEMRIK_SANITIZED") else {"PYTHONMALLOC": "debug"}


@pytest.mark.parametrize("check", CHECKS)
def test_objects_let_go_during_the_call(check):
    if "__del__" in check and "t" in sys.abiflags:
        pytest.skip("the free-threaded collector waits for more objects than the call makes")
    child = run_child(f"from reliability.test_hostile import *\n{check}", env=ENV)
    assert child.returncode == 0, child.stdout + child.stderr[-3000:]
