# sanitize: the suite against an AddressSanitizer and UBSan debug build
#
# Builds the module with AddressSanitizer and UndefinedBehaviorSanitizer (a
# debug build, so that assertions are checked too) in its own environment and
# build folder, and runs the whole test suite under them:
#   bash scripts/dev.sh sanitize [pytest arguments]
# The interpreter is not instrumented, so the sanitizer runtime is preloaded
# into it; leak detection is off, since the interpreter keeps memory until exit
# by design (scripts/dev.sh valgrind looks for leaks in the module instead).
# Tests that cannot run under the sanitizers skip themselves when
# PEMRIK_SANITIZED is set.
need_command curl curl
need_command nm binutils
slot="$slot-asan"
setup_venv test
install_module --config-settings=cmake.define.PEMRIK_SANITIZE=ON --config-settings=cmake.build-type=Debug

# The C++ runtime is preloaded too: the sanitizer looks up the real
# __cxa_throw when it starts, before the module would load libstdc++.
runtime=$("${CXX:-g++}" -print-file-name=libasan.so)
cxx_runtime=$("${CXX:-g++}" -print-file-name=libstdc++.so)
if [ ! -e "$runtime" ] || [ ! -e "$cxx_runtime" ]; then
    say "the AddressSanitizer runtime (libasan.so) or libstdc++.so of ${CXX:-g++} is missing"
    exit 1
fi
built=$("$venv/bin/python" -c 'import importlib.util; print(importlib.util.find_spec("pemrik").origin)')
if ! nm -D --undefined-only "$built" | grep __asan_report >/dev/null; then
    say "$built is not instrumented"
    exit 1
fi

cd "$root/tests"
# A sanitizer that stops the process writes its report to a file of its own
# (pytest holds back what the tests print, and would lose it), shown below.
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT
export LD_PRELOAD="$runtime $cxx_runtime${LD_PRELOAD:+ $LD_PRELOAD}"
export ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1:log_path=$reports/asan${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export PYTHONMALLOC=malloc  # every object on the instrumented heap
export PEMRIK_SANITIZED=1
say "running the test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
status=0
"$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" || status=$?
if compgen -G "$reports/*" >/dev/null; then
    say "sanitizer reports:"
    cat "$reports"/* >&2
    status=1
fi
exit "$status"
