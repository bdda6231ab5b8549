"""Leaks: every operation and error path (support/workflows.py), repeated,
leaves reference counts where they were and the process's memory flat.
`bash scripts/dev.sh valgrind` runs the same workflows under memcheck."""

import gc
import os
import sys

import pytest

from support.workflows import OPERATIONS, THROUGH_SEQUENCES, exercise, objects

NAMESPACE = objects(64)


@pytest.mark.parametrize("name", OPERATIONS + THROUGH_SEQUENCES)
def test_reference_counts_stay_put(name):
    ns = NAMESPACE
    objects_ = [
        *ns["STATIC"],
        *(ns[k] for k in "URL ASCII HEADERS BODY REQS CUT SURROGATE".split()),
        *ns["REQS"],
        *(o for header in ns["HEADERS"] for o in (header, *header)),
    ]

    def counts():
        gc.collect()
        return [sys.getrefcount(o) for o in objects_]

    exercise([name], ns, 20)
    before = counts()
    exercise([name], ns, 200)
    assert [
        (repr(o)[:40], b, a) for o, b, a in zip(objects_, before, counts(), strict=True) if a != b
    ] == []


@pytest.mark.skipif(
    bool(os.environ.get("PEMRIK_SANITIZED")), reason="the sanitizer runtime keeps freed memory"
)
def test_memory_stays_flat():
    def resident():
        gc.collect()
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096

    calls, ns = OPERATIONS + THROUGH_SEQUENCES, objects(50_000)
    exercise(calls, ns, 20)
    before = resident()
    exercise(calls, ns, 60)
    # Losing one text of 50,000 characters per round would add 3 MB or more.
    assert resident() - before < 2_000_000
