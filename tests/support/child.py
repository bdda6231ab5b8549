"""A fresh interpreter for code that may crash or that changes the classes."""

import os
import subprocess
import sys
from pathlib import Path

TESTS = Path(__file__).resolve().parents[1]


def run_child(code, timeout=120, env=None):
    """Runs code in a child interpreter that can import `support`; env adds to the environment."""
    path = os.pathsep.join(p for p in (str(TESTS), os.environ.get("PYTHONPATH")) if p)
    env = {**os.environ, "PYTHONPATH": path, "PYTHONFAULTHANDLER": "1", **(env or {})}
    run = [sys.executable, "-c", code]
    return subprocess.run(run, capture_output=True, text=True, timeout=timeout, env=env)
