"""Objects let go of during a call, in a child interpreter whose freed memory is unmapped at
once (texts of several MB) and, outside the sanitizer run, overwritten (debug allocator): a
pointer kept too long shows as different text or a crash."""

import os

import pytest

from support.child import run_child
from support.hostile import KINDS

ENV = {"MALLOC_MMAP_THRESHOLD_": str(128 << 10)}
ENV |= {} if os.environ.get("PEMRIK_SANITIZED") else {"PYTHONMALLOC": "debug"}

# The callable and every argument, dropped by the caller from a callback (support/hostile.py),
# give what the same call gives with untouched arguments.
DROPPED = """
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection
from support.hostile import call_dropping

SIZE = 4 << 20
url = lambda: "https://h/p?" + "u" * SIZE + "é"
headers = lambda: [("Name-" + "n" * SIZE, "v" * SIZE + "é"), ("Second", "s" * SIZE)]
body = lambda: "b" * SIZE + "é"
args = {{
    "Pemrik": lambda wrap: (url(), wrap(headers()), M.PATCH, body()),
    "PemrikCollection": lambda wrap: (wrap([Pemrik(url(), headers(), M.PUT, body())] * 2),),
}}[{name!r}]
observe = lambda x: x.get_request_command() if isinstance(x, Pemrik) else (
    [r.get_request_command() for r in x.get_collection()], x.export_collection())
expected = call_dropping({name}, args, None, observe)[0]
got = call_dropping({name}, args, {kind!r}, observe)
print("ok" if got == (expected, True) else repr(got)[:300])
"""

# Header pairs made as they are read, held by nobody else, past the few kept in place: the
# constructor must hold each one until the record has copied its texts.
PAIRS = """
from pemrik import HTTPMETHOD as M, Pemrik

SIZE = 256 << 10

class Pairs:
    def __len__(self):
        return {count}
    def __getitem__(self, i):
        if i >= {count}:
            raise IndexError(i)
        return ("N" + str(i) + "n" * SIZE, "v" * SIZE + str(i) + "é")

lines = [Pemrik("https://h/p", h, M.PUT, "b").get_request_command() for h in (list(Pairs()), Pairs())]
print("ok" if lines[0] == lines[1] else "DIFFERENT")
"""

CASES = [(DROPPED, dict(name=n, kind=k)) for n in ("Pemrik", "PemrikCollection") for k in KINDS]
CASES += [(PAIRS, dict(count=n)) for n in (8, 9, 40)]


@pytest.mark.parametrize("code, fields", CASES, ids=[str(f) for _, f in CASES])
def test_objects_let_go_during_the_call(code, fields):
    child = run_child(code.format(**fields), env=ENV)
    assert (child.returncode, child.stdout.split()) == (0, ["ok"]), (
        child.stdout + child.stderr[-3000:]
    )
