"""Paths of the boundary that the other tests leave untaken.

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

from conftest import run_child

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
