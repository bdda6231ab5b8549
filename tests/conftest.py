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


def run_child(code: str, timeout: float = 120) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter, so that a crash cannot take the suite down."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
    )
