"""Leaks: the operations and error paths of test_oom.py, and those through a
script's own sequences, repeated, leave reference counts where they were and
the process's memory flat. `bash scripts/dev.sh valgrind` runs exercise()."""

import gc
import os
import sys

import pytest

from test_hostile import Seq, hostile
from test_oom import OPERATIONS, SETUP


def caused(e, cause):
    e.__cause__ = cause
    return e


# Python code runs inside these calls, so the allocation sweeps leave them out.
THROUGH_SEQUENCES = [
    "Pemrik(URL, Seq(HEADERS), M.PATCH)", "PemrikCollection(collection=Seq(REQS))",
    "Pemrik(URL, Seq(HEADERS, 9, (2, KeyError(URL))), M.GET)", "PemrikCollection(Seq(REQS, 9, (3, TypeError(BODY))))",
    "Pemrik(URL, Seq(HEADERS, 9, (2, caused(TypeError(URL), KeyError(BODY)))), M.GET)",
    "Pemrik(URL, Seq(HEADERS, 9, (2, TypeError(hostile(object, ['__str__'])()))), M.GET)",
]


def workflows(size):
    """call -> (its code, namespace), over texts of about `size` characters."""
    namespace = dict(Seq=Seq, hostile=hostile, caused=caused, SIZE=size)
    exec(SETUP, namespace)
    return {expr: (compile(expr, expr, "eval"), namespace) for expr in OPERATIONS + THROUGH_SEQUENCES}


def exercise(calls, rounds):
    """Runs every workflow `rounds` times."""
    hook, sys.unraisablehook = sys.unraisablehook, lambda u: None
    try:
        for _ in range(rounds):
            for code, namespace in calls.values():
                try:
                    eval(code, namespace)
                except Exception:
                    pass
    finally:
        sys.unraisablehook = hook


WORKFLOWS = workflows(64)


@pytest.mark.parametrize("name", WORKFLOWS)
def test_reference_counts_stay_put(name):
    ns = WORKFLOWS[name][1]
    objects = [*ns["STATIC"], *(ns[k] for k in "URL ASCII HEADERS BODY REQS CUT SURROGATE".split()), *ns["REQS"],
               *(o for header in ns["HEADERS"] for o in (header, *header))]

    def counts():
        gc.collect()
        return [sys.getrefcount(o) for o in objects]

    exercise({name: WORKFLOWS[name]}, 20)
    before = counts()
    exercise({name: WORKFLOWS[name]}, 200)
    assert [(repr(o)[:40], b, a) for o, b, a in zip(objects, before, counts()) if a != b] == []


@pytest.mark.skipif(bool(os.environ.get("PEMRIK_SANITIZED")), reason="the sanitizer runtime keeps freed memory")
def test_memory_stays_flat():
    def resident():
        gc.collect()
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096

    calls = workflows(50_000)
    exercise(calls, 20)
    before = resident()
    exercise(calls, 60)
    # Losing one text of 50,000 characters per round would add 3 MB or more.
    assert resident() - before < 2_000_000
