"""Shared test settings: hypothesis budgets and a child-interpreter runner."""

import os
import subprocess
import sys
import textwrap

from hypothesis import HealthCheck, settings

# The normal suite runs the property tests with a small budget;
# HYPOTHESIS_PROFILE=deep runs them at depth.
settings.register_profile("default", max_examples=60, deadline=None)
settings.register_profile(
    "deep", max_examples=20_000, deadline=None, suppress_health_check=list(HealthCheck)
)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))


def run_child(code: str, timeout: float = 120, env: dict | None = None) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter, so that a crash cannot take the suite down.
    The child imports the test helpers (`support`) too; env adds to the environment."""
    tests = os.path.dirname(os.path.abspath(__file__))
    path = os.pathsep.join(p for p in (tests, os.environ.get("PYTHONPATH")) if p)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
        env={**os.environ, "PYTHONPATH": path, **(env or {})},
    )
