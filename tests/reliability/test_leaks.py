"""Leaks: every operation and error path (support/workflows.py), repeated, leaves reference
counts where they were and the process's memory flat. `bash scripts/dev.sh valgrind` runs the
same workflows under memcheck."""

import gc
import os
import sys

from support.workflows import OPERATIONS, THROUGH_SEQUENCES, exercise, objects


def test_workflows_leave_counts_and_memory_as_they_were():
    ns, calls = objects(50_000), OPERATIONS + THROUGH_SEQUENCES
    tracked = [*ns["STATIC"], *ns["REQS"], *(o for h in ns["HEADERS"] for o in (h, *h))]
    tracked += [ns[k] for k in "URL ASCII HEADERS BODY REQS CUT SURROGATE".split()]

    def state():
        gc.collect()
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096, [sys.getrefcount(o) for o in tracked]

    exercise(calls, ns, 20)
    resident, counts = state()
    exercise(calls, ns, 60)
    now, after = state()
    changed = [(repr(o)[:40], a, b) for o, a, b in zip(tracked, counts, after, strict=True)]
    assert [c for c in changed if c[1] != c[2]] == []
    # Losing one text of 50,000 characters per round would add 3 MB or more; the sanitizer
    # runtime keeps freed memory.
    assert os.environ.get("PEMRIK_SANITIZED") or now - resident < 2_000_000
