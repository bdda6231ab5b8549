# fuzz: every property test at depth (tens of thousands of examples; long)
#
# Runs every property test of the suite with the large example budget of the
# "deep" hypothesis profile (tests/conftest.py):
#   bash scripts/dev.sh fuzz [pytest arguments]
# Hypothesis marks each property test itself, so `-m hypothesis` picks them all.
need_command curl curl
need_command nm binutils
setup_venv test
install_module
cd "$root/tests"
HYPOTHESIS_PROFILE=deep exec "$venv/bin/python" -m pytest -q -p no:cacheprovider \
    -m hypothesis --hypothesis-show-statistics "$@"
