# core: the core's C++ tests, built with SSE2 and portable, and the include check
#
# Builds the core alone (no Python) in build/core-tests with the tests of
# tests/core/, once with the SSE2 kernels and once with the scalar loops
# alone, and runs them with ctest together with the check that no core file
# reaches the interpreter's headers.
setup_venv
core_tests
