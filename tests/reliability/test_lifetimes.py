"""Arguments that their caller lets go of during the call.

Each callable that makes callbacks into script code while it reads its
arguments is called through a holder that drops the callable and every
argument from inside each such callback (support/hostile.py), with texts of
several MB, in a child interpreter whose freed memory is returned to the
system or overwritten. The result must be what the same call gives with
untouched arguments.
"""

import os

import pytest

from support.child import run_child
from support.hostile import KINDS

# name: (callable, arguments given a sequence wrapper, what is compared)
CALLS = {
    "Pemrik": (
        "Pemrik",
        "lambda wrap: (url(), wrap(headers()), M.PATCH, body())",
        "lambda r: r.get_request_command()",
    ),
    "PemrikCollection": (
        "PemrikCollection",
        "lambda wrap: (wrap([Pemrik(url(), headers(), M.PUT, body())] * 2),)",
        "lambda c: ([r.get_request_command() for r in c.get_collection()], c.export_collection())",
    ),
}

CHILD = """
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection
from support.hostile import call_dropping, call_plainly

SIZE = 4 << 20  # texts this large are mapped on their own and unmapped when freed
url = lambda: "https://h/p?" + "u" * SIZE + "é"
headers = lambda: [("Name-" + "n" * SIZE, "v" * SIZE + "é"), ("Second", "s" * SIZE)]
body = lambda: "b" * SIZE + "é"

func, make_args, observe = {func}, {make_args}, {observe}
expected = call_plainly(func, make_args, observe)
got, dropped = call_dropping(func, make_args, {kind!r}, observe)
print("dropped" if dropped else "kept", "same" if got == expected else "DIFFERENT: " + repr(got)[:300])
"""

# Freed memory is unmapped at once (no growing mmap threshold) and, outside the
# sanitizer run, overwritten by the interpreter's debug allocator.
ENV = {"MALLOC_MMAP_THRESHOLD_": str(128 << 10), "PYTHONFAULTHANDLER": "1"}
if not os.environ.get("PEMRIK_SANITIZED"):
    ENV["PYTHONMALLOC"] = "debug"


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("name", CALLS)
def test_arguments_dropped_by_the_caller_during_the_call(name, kind):
    func, make_args, observe = CALLS[name]
    child = run_child(
        CHILD.format(func=func, make_args=make_args, observe=observe, kind=kind), env=ENV
    )
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout.split() == ["dropped", "same"], child.stdout
