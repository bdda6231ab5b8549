"""Objects let go of during a call, in a child interpreter whose freed memory is unmapped at
once (texts of several MB) and, outside the sanitizer run, overwritten (debug allocator): a
pointer kept too long shows as different text or a crash."""

import os
import sysconfig

import pytest

from support.child import run_child

ENV = {"MALLOC_MMAP_THRESHOLD_": str(128 << 10)}
ENV |= {} if os.environ.get("PEMRIK_SANITIZED") else {"PYTHONMALLOC": "debug"}

# The callable and every argument, let go of by the caller from a callback of a sequence
# argument (on the second item for item callbacks) or from a finalizer that the collector runs
# inside the module's own first allocation of a tracked object (which it does on 3.11), give what
# an untouched call gives: functools.partial lends what it stores to the call instead of holding
# references. A script's __init__ sends the call of Pemrik through the interpreter's type call.
DROPPED = """
import functools, gc
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection
from support.cases import lines
from support.hostile import IterSeq, Seq

if {init}:
    Pemrik.__init__ = lambda self, *args, **kwargs: None
text = lambda c: c * (4 << 20) + "é"  # a new one each time

def run(kind):  # the lines made, and whether the caller let go
    def hook(callback, i):
        if callback == kind and i in (None, 1):
            held.__setstate__((print, (), {{}}, None))
    seq = lambda items: (IterSeq if kind in ("__iter__", "__next__") else Seq)(items, None, hook)
    fields = lambda wrap: (text("u"), wrap([(text("n"), text("v")), ("S", text("s"))]), M.PUT, text("b"))
    if {name!r} == "Pemrik":
        held = functools.partial(Pemrik, *fields(seq))
    else:
        held = functools.partial(PemrikCollection, seq([Pemrik(*fields(list))] * 2))
    if kind == "__del__":  # the free lists drained, so that the module's allocations allocate
        spare = [tuple([i] * n) for i in range(3000) for n in range(1, 6)]
        garbage = type("Garbage", (), dict(__del__=lambda g: hook("__del__", None)))()
        garbage.me, garbage = garbage, None
        gc.set_threshold(1)
    made = held()
    gc.set_threshold(700)
    return lines(made), held.func is print

assert run({kind!r}) == (run(None)[0], True)
"""
# Header pairs made as they are read, held by nobody else, past the few kept in place: the
# constructor must hold each one until the record has copied its texts (with escapes, at MB size).
PAIRS = """
from pemrik import HTTPMETHOD as M, Pemrik
from support.oracles import curl_line

pair = lambda i: ("N" + str(i) + "n" * (256 << 10), "v'$`\\x01" * (64 << 10) + str(i) + "é")
pairs = type("Pairs", (), dict(__len__=lambda s: {n}, __getitem__=lambda s, i: pair(range({n})[i])))
line = curl_line("/p", [pair(i) for i in range({n})], "PUT", None)
assert Pemrik("/p", pairs(), M.PUT).get_request_command() == line
"""
KINDS = "__len__ __iter__ __next__ __getitem__ __del__".split()
NAMES = [("Pemrik", False), ("Pemrik", True), ("PemrikCollection", False)]
CASES = [(DROPPED, dict(name=n, init=i, kind=k)) for n, i in NAMES for k in KINDS]
CASES += [(PAIRS, dict(n=n)) for n in (8, 9, 40)]


@pytest.mark.parametrize("code, fields", CASES, ids=[str(f) for _, f in CASES])
def test_objects_let_go_during_the_call(code, fields):
    if fields.get("kind") == "__del__" and sysconfig.get_config_var("Py_GIL_DISABLED"):
        pytest.skip("the free-threaded collector waits for more objects than the call makes")
    child = run_child(code.format(**fields), env=ENV)
    assert child.returncode == 0, child.stdout + child.stderr[-3000:]
