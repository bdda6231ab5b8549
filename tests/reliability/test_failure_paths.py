"""Paths of the boundary that the other tests leave untaken.

The constructor through __new__: it binds and converts as the call of the
class does, and must refuse and make alike.

Header items past the first eight: the constructor holds every item of the
header sequence until the record has copied the texts, the first few in
place and the rest in a second store. A sequence that makes each pair as
it is read, so that nobody else refers to it, frees each one as soon as the constructor lets go of it; in a
child interpreter with the debug allocator (freed memory overwritten) and
texts large enough to be unmapped when freed, a pair let go too early shows
as different text or a crash.
"""

import os

import pytest

from pemrik import HTTPMETHOD as M
from pemrik import Pemrik
from support.child import run_child

CHILD = """
from pemrik import HTTPMETHOD as M, Pemrik

SIZE = 256 << 10
class Pairs:
    def __len__(self):
        return {count}
    def __getitem__(self, i):
        if i >= {count}:
            raise IndexError(i)
        return ("N" + str(i) + "n" * SIZE, "v" * SIZE + str(i) + "é")

expected = Pemrik("https://h/p", list(Pairs()), M.PUT, "b").get_request_command()
got = Pemrik("https://h/p", Pairs(), M.PUT, "b").get_request_command()
print("same" if got == expected else "DIFFERENT")
"""

ENV = {"MALLOC_MMAP_THRESHOLD_": str(128 << 10), "PYTHONFAULTHANDLER": "1"}
if not os.environ.get("PEMRIK_SANITIZED"):
    ENV["PYTHONMALLOC"] = "debug"


@pytest.mark.parametrize("count", [8, 9, 40])
def test_header_items_held_until_copied(count):
    child = run_child(CHILD.format(count=count), env=ENV)
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout.split() == ["same"]


# The constructor reached through __new__ rather than a call of the class
# (the path the interpreter takes for an explicit Pemrik.__new__): every
# refusal and every result must be the same as through the call.
ARGUMENTS = [
    (),
    (1,),
    ("u", "x"),
    ("u", [], "GET"),
    ("u", [("a",)], M.GET),
    ("u", [], M.GET, 1),
    ("u\ud800", [], M.GET),
    ("u", [("n", "v")], M.POST, "b"),
]


def outcome(make):
    try:
        return "ok", make().get_request_command()
    except Exception as e:
        return type(e), str(e)


@pytest.mark.parametrize("args", ARGUMENTS)
def test_new_refuses_and_makes_as_the_call_does(args):
    assert outcome(lambda: Pemrik.__new__(Pemrik, *args)) == outcome(lambda: Pemrik(*args))
