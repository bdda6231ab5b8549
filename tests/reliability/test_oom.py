"""Out of memory: every public operation, and the import, with allocations refused, swept by
support/oom_child.py with tests/oom_helper preloaded."""

import json
import os
import shutil
import subprocess
import sys
import sysconfig

import pytest

from support.child import TESTS
from support.workflows import OPERATIONS

# The sanitizer runtime owns operator new. CPython 3.11.2 was seen raising TypeError('') from
# its own code (operator.lt, hash) when an allocation is refused there; 3.11.7 reports MemoryError.
pytestmark = pytest.mark.skipif(
    bool(os.environ.get("PEMRIK_SANITIZED")) or sys.version_info < (3, 11, 7),
    reason="needs CPython 3.11.7 or later and its own operator new",
)
IMPORT = "_imp.create_dynamic(spec)"


@pytest.fixture(scope="module")
def faults(tmp_path_factory):
    if not shutil.which("g++"):
        pytest.skip("g++ is needed to build the allocation-failure helper")
    out, source = tmp_path_factory.mktemp("oomhelper"), TESTS / "oom_helper" / "oomhelper.cpp"
    build = "g++ -std=c++17 -O1 -g -shared -fPIC -Wall -Wextra -o oomhelper.so".split()
    subprocess.run([*build, "-I" + sysconfig.get_paths()["include"], source], check=True, cwd=out)
    path = os.pathsep.join([str(out), str(TESTS), os.environ.get("PYTHONPATH", "")])
    env = dict(os.environ, LD_PRELOAD=out / "oomhelper.so", PYTHONPATH=path, PYTHONMALLOC="debug")
    table = [("import", IMPORT)] + [("operation", e) for e in OPERATIONS]
    child = subprocess.run(
        [sys.executable, TESTS / "support" / "oom_child.py"], input=json.dumps(table),
        env=env, cwd=out, capture_output=True, text=True, timeout=900,
    )  # fmt: skip
    assert child.returncode == 0, child.stderr[-6000:]
    return dict(map(json.loads, child.stdout.splitlines()))


@pytest.mark.parametrize("name", [IMPORT, *OPERATIONS])
def test_every_refused_allocation(faults, name):
    assert faults[name] == [], json.dumps(faults[name], ensure_ascii=False)[:8000]
