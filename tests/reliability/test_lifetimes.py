"""Objects let go of during a call, in a child interpreter whose freed memory is unmapped at
once (texts of several MB) and, outside the sanitizer run, overwritten (debug allocator): a
pointer kept too long shows as different text or a crash."""

import os

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
from support.hostile import IterSeq, Seq

if {init}:
    Pemrik.__init__ = lambda self, *args, **kwargs: None

S = 4 << 20
url, body = lambda: "https://h/p?" + "u" * S + "é", lambda: "b" * S + "é"
headers = lambda: [("Name-" + "n" * S, "v" * S + "é"), ("Second", "s" * S)]
args = {{
    "Pemrik": lambda wrap: (url(), wrap(headers()), M.PATCH, body()),
    "PemrikCollection": lambda wrap: (wrap([Pemrik(url(), headers(), M.PUT, body())] * 2),),
}}[{name!r}]

def run(kind):  # the lines made, and whether the caller let go
    def hook(callback, i):
        if callback == kind and i in (None, 1):
            held.__setstate__((print, (), {{}}, None))
    seq = IterSeq if kind in ("__iter__", "__next__") else Seq
    held = functools.partial({name}, *args(lambda items: seq(items, None, hook)))
    if kind == "__del__":  # the free lists drained, so that the module's allocations allocate
        spare = [tuple([i] * n) for i in range(3000) for n in range(1, 6)]
        garbage = type("Garbage", (), dict(__del__=lambda g: hook("__del__", None)))()
        garbage.me, garbage = garbage, None
        gc.set_threshold(1)
    made = held()
    gc.set_threshold(700)
    made = made.get_collection() if isinstance(made, PemrikCollection) else [made]
    return [r.get_request_command() for r in made], held.func is print

print("ok" if run({kind!r}) == (run(None)[0], True) else "DIFFERENT")
"""

# Header pairs made as they are read, held by nobody else, past the few kept in place: the
# constructor must hold each one until the record has copied its texts.
PAIRS = """
from pemrik import HTTPMETHOD as M, Pemrik
from support.hostile import Seq

class Pairs(Seq):
    def __getitem__(self, i):
        i = super().__getitem__(i)
        return ("N" + str(i) + "n" * (256 << 10), "v" * (256 << 10) + str(i) + "é")

h = Pairs(range({count}))
lines = [Pemrik("https://h/p", x, M.PUT, "b").get_request_command() for x in (list(h), h)]
print("ok" if lines[0] == lines[1] else "DIFFERENT")
"""

KINDS = "__len__ __iter__ __next__ __getitem__ __del__".split()
NAMES = [("Pemrik", False), ("Pemrik", True), ("PemrikCollection", False)]
CASES = [(DROPPED, dict(name=n, init=i, kind=k)) for n, i in NAMES for k in KINDS]
CASES += [(PAIRS, dict(count=n)) for n in (8, 9, 40)]


@pytest.mark.parametrize("code, fields", CASES, ids=[str(f) for _, f in CASES])
def test_objects_let_go_during_the_call(code, fields):
    child = run_child(code.format(**fields), env=ENV)
    out = child.stdout + child.stderr[-3000:]
    assert (child.returncode, child.stdout.split()) == (0, ["ok"]), out
