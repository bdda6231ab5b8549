"""Shared test settings: the hypothesis budgets. Shared helpers live in `support`."""

import os

from hypothesis import HealthCheck, settings

# The normal suite runs the property tests with a small budget;
# HYPOTHESIS_PROFILE=deep runs them at depth.
settings.register_profile("default", max_examples=60, deadline=None)
settings.register_profile(
    "deep", max_examples=20_000, deadline=None, suppress_health_check=list(HealthCheck)
)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))
