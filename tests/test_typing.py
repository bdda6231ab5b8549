"""The installed type stubs against the installed module, and the examples under mypy --strict."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy", reason="mypy is not installed")

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def run(*args, cwd):
    # Run outside the source tree, so that only installed files are seen.
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=600)


@pytest.fixture(scope="module")
def cache(tmp_path_factory):
    # One cache for both mypy runs: the second reuses the standard library's.
    return str(tmp_path_factory.mktemp("mypy-cache"))


def test_stubs_match_the_module(tmp_path):
    done = run("mypy.stubtest", "pemrik", cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


@pytest.mark.skipif(not EXAMPLES.is_dir(), reason="no examples folder beside the tests")
def test_examples_pass_mypy_strict(tmp_path, cache):
    done = run("mypy", "--strict", "--cache-dir", cache, str(EXAMPLES), cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr


def test_stubs_reject_misuse(tmp_path, cache):
    """mypy finds the stubs through the installed package and holds scripts to them."""
    (tmp_path / "use.py").write_text(
        "from pemrik import HTTPMETHOD, Pemrik, PemrikCollection\n"
        "reveal_type(HTTPMETHOD.GET)\n"
        "reveal_type(PemrikCollection().get_collection())\n"
        "reveal_type(Pemrik('/', [], HTTPMETHOD.GET).get_request_command())\n"
        "Pemrik(1, [], HTTPMETHOD.GET)\n"
        "Pemrik('/', [('a', 1)], HTTPMETHOD.GET)\n"
        "Pemrik('/', [], 'GET')\n"
        "HTTPMETHOD.GET < HTTPMETHOD.POST\n"
        "class Sub(PemrikCollection): ...\n"
    )
    done = run("mypy", "--strict", "--cache-dir", cache, "use.py", cwd=tmp_path)
    out = done.stdout
    assert 'Revealed type is "pemrik.HTTPMETHOD"' in out
    assert 'Revealed type is "builtins.list[pemrik.Pemrik] | None"' in out \
        or 'Revealed type is "list[pemrik.Pemrik] | None"' in out
    assert 'Revealed type is "builtins.str"' in out or 'Revealed type is "str"' in out
    for line in (5, 6, 7, 8, 9):
        assert f"use.py:{line}: error" in out, out
    assert "Found 5 errors" in out, out
