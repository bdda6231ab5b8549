"""Out of memory: every public operation, and the import, with allocations refused.

support/oom_child.py, with tests/oom_helper preloaded, forks one process per
try and refuses one allocation, or every one from a point on, or one of the
module's own C++ allocations, until the call completes without a refusal. A
try must give the correct result or MemoryError and leave its receiver, its
arguments and their reference counts as they were.
"""

import importlib.util
import json
import os
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

from support.child import TESTS
from support.workflows import OPERATIONS

pytestmark = [
    pytest.mark.skipif(
        bool(os.environ.get("PEMRIK_SANITIZED")),
        reason="replaces operator new, which the sanitizer runtime owns",
    ),
    # CPython 3.11 (seen with 3.11.2) raises TypeError('') from its own code
    # (operator.lt, hash) when an allocation is refused there, which no try
    # can tell from a fault of the module; 3.12 and later report MemoryError.
    pytest.mark.skipif(
        sys.version_info < (3, 12), reason="3.11 loses the error of its own refused allocations"
    ),
]

REPORTING = [
    "Pemrik(URL, raising(PANIC('came back through script code ' + 'p' * 40)), M.GET)",
    "Pemrik(URL, raising(Unprintable()), M.GET)",
]
IMPORT = "_imp.create_dynamic(spec)"
# A class the interpreter could not make, reported as the SystemError it leaves.
NO_EXCEPTION = ["SystemError", "attempted to fetch exception but none was set", None]
MODULE_FILE = os.path.basename(importlib.util.find_spec("pemrik").origin)

# The interpreter's own failures, expected: with an allocation refused in its
# own code, CPython can stop with a fatal error whose native stack holds no
# frame of the module (seen while it builds the classes of a new module), or
# lose the exception that a script function raised (the SystemError then
# names that function). Neither is the module's fault; they are allowed in at
# most a tenth of a sweep's tries, so that a fault of the module cannot hide
# among them, and every other crash fails.
LOST_BY_SCRIPT = "<function raising.<locals>.item at "
INTERPRETER_SHARE = 0.1


@pytest.fixture(scope="module")
def sweeps(tmp_path_factory):
    """Every try of every sweep, by name: the reference run (start -1) first."""
    if not shutil.which("g++"):
        pytest.skip("g++ is needed to build the allocation-failure helper")
    out = tmp_path_factory.mktemp("oomhelper")
    subprocess.run(
        [
            "g++",
            "-std=c++17",
            "-O1",
            "-g",
            "-shared",
            "-fPIC",
            "-Wall",
            "-Wextra",
            "-I",
            sysconfig.get_paths()["include"],
            "-o",
            str(out / "oomhelper.so"),
            str(TESTS / "oom_helper" / "oomhelper.cpp"),
        ],
        check=True,
    )
    env = dict(
        os.environ,
        LD_PRELOAD=str(out / "oomhelper.so"),
        PYTHONPATH=os.pathsep.join([str(out), str(TESTS)]),
        PYTHONMALLOC="debug",
    )
    # The import first: the driver imports the module for the other sweeps.
    table = (
        [("import", IMPORT)]
        + [("operation", e) for e in OPERATIONS]
        + [("report", e) for e in REPORTING]
    )
    child = subprocess.run(
        [sys.executable, str(Path(TESTS, "support", "oom_child.py"))],
        input=json.dumps(table),
        env=env,
        cwd=out,
        capture_output=True,
        text=True,
        timeout=900,
    )
    assert child.returncode == 0, child.stderr[-6000:]
    tries = {}
    for line in child.stdout.splitlines():
        got = json.loads(line)
        tries.setdefault(got["name"], []).append(got)
    return tries


def kind(outcome):
    return outcome[0] if isinstance(outcome, list) else None


def allowed(name, outcome, reference):
    if outcome == reference or kind(outcome) == "MemoryError":
        return True
    while kind(outcome) == "RuntimeError" and outcome[1].startswith(
        "An error occurred while initializing"
    ):
        outcome = outcome[2]
    return name == IMPORT and outcome == NO_EXCEPTION


@pytest.mark.parametrize("name", OPERATIONS + [IMPORT] + REPORTING)
def test_every_refused_allocation(sweeps, name):
    reference, *tries = sweeps[name]
    assert [reference.get(k) for k in ("refused", "leaked")] == [0, []], reference
    assert {t["mode"] for t in tries if t.get("refused") == 0} == {"one", "sticky", "cxx"}, (
        "a sweep did not complete"
    )
    faults, interpreter_own = [], []
    for t in tries:
        where = (t["mode"], t["start"])
        if "crash" in t:
            stack = t["crash"].partition("oomhelper: fatal signal")[2]
            (interpreter_own if stack and MODULE_FILE not in stack else faults).append(
                (where, t["crash"][-3000:])
            )
            continue
        if kind(t["outcome"]) == "SystemError" and t["outcome"][1].startswith(LOST_BY_SCRIPT):
            interpreter_own.append(where)
        elif not allowed(name, t["outcome"], reference["outcome"]):
            faults.append((where, "outcome", t["outcome"]))
        failed = kind(t["outcome"]) == "MemoryError"
        if t["after"] != [(t["before"] if failed else reference["after"])[0], *t["before"][1:]]:
            faults.append((where, "receiver or arguments changed", t["after"]))
        if t["leaked"]:
            faults.append((where, "reference counts changed", t["leaked"]))
    assert not faults, "\n".join(json.dumps(f, ensure_ascii=False)[:1500] for f in faults[:10])
    assert len(interpreter_own) <= INTERPRETER_SHARE * len(tries), interpreter_own
