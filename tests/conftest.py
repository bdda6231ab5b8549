"""The hypothesis budgets: small for the normal suite; HYPOTHESIS_PROFILE=deep runs at depth."""

import os

from hypothesis import HealthCheck, settings

settings.register_profile("default", max_examples=60, deadline=None)
quiet = list(HealthCheck)  # at depth, slow and much filtered data are expected
settings.register_profile("deep", max_examples=20_000, deadline=None, suppress_health_check=quiet)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))
