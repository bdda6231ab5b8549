"""The installed stubs against the installed module (stubtest), and mypy --strict
on examples/ and on a script that misuses the module."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy", reason="mypy is not installed")

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
MISUSE = """from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
reveal_type(HTTPMETHOD.GET)
reveal_type(PemrikCollection().get_collection())
reveal_type(Pemrik('/', [], HTTPMETHOD.GET).get_request_command())
Pemrik(1, [], HTTPMETHOD.GET)
Pemrik('/', [('a', 1)], HTTPMETHOD.GET)
Pemrik('/', [], 'GET')
HTTPMETHOD.GET < HTTPMETHOD.POST
class Sub(PemrikCollection): ...
"""


def run(*args, cwd):
    # Outside the source tree, so that only installed files are seen.
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    return subprocess.run(
        [sys.executable, "-m", *args], cwd=cwd, env=env, capture_output=True, text=True, timeout=600
    )


def test_stubs_match_the_module(tmp_path):
    done = run("mypy.stubtest", "pemrik", cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


@pytest.mark.skipif(not EXAMPLES.is_dir(), reason="no examples folder beside the tests")
def test_mypy_strict(tmp_path):
    (tmp_path / "misuse.py").write_text(MISUSE)
    out = run("mypy", "--strict", str(EXAMPLES), "misuse.py", cwd=tmp_path).stdout
    assert re.findall(r'Revealed type is "(?:builtins\.)?(.*)"', out) == [
        "pemrik.HTTPMETHOD",
        "list[pemrik.Pemrik] | None",
        "str",
    ], out
    assert [int(n) for n in re.findall(r"^misuse\.py:(\d+): error", out, re.M)] == [
        5,
        6,
        7,
        8,
        9,
    ], out
    assert "Found 5 errors in 1 file" in out, out
