# coverage: line and branch coverage of src/ by the suite and the fuzz corpus
#
# Line and branch coverage of src/ by the test suite and the fuzz corpus:
#   bash scripts/dev.sh coverage [pytest arguments]
# Builds the module, and the core's C++ tests with the native fuzz target in
# its replay build (FUZZ_MODE=replay), with gcov counters (their own
# environment and build folders), runs both suites, replays the fuzz
# target's corpus, then prints gcovr's report per source file of src/, lines
# first, then branches (branches that only exceptions take are left out). The
# corpus is the committed seeds plus whatever fuzz-native has found here.
source "$root/fuzz/tools.sh"
need_command curl curl
need_command nm binutils
slot="$slot-coverage"
setup_venv test coverage
module_build="$root/build/coverage-module$slot"
native_build="$root/build/coverage-native$slot"
# Counters from an earlier run would add up with this one's.
find "$module_build" "$native_build" -name '*.gcda' -delete 2>/dev/null || true
"$venv/bin/python" -m pip install -q --disable-pip-version-check \
    --no-build-isolation --no-deps --force-reinstall \
    --config-settings=build-dir="$module_build" \
    --config-settings=cmake.define.PEMRIK_COVERAGE=ON --config-settings=cmake.build-type=Debug .

# gcov writes a process's counters from the exit handlers that os._exit
# skips, and the tests' forked children (the out-of-memory tries) leave that
# way; in this environment alone os._exit goes through the C library's exit.
site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
cat >"$site/pemrik_coverage_exit.py" <<'PY'
import ctypes
import os

_exit = ctypes.CDLL(None).exit
_exit.argtypes = [ctypes.c_int]
os._exit = lambda status: _exit(status)
PY
echo "import pemrik_coverage_exit" >"$site/pemrik_coverage_exit.pth"

corpora() {  # the corpus folders of one target that exist
    local target=$1 dir
    for dir in "$root/fuzz/corpus/$target" "$root"/build/fuzz-corpus*/"$target"; do
        [ -d "$dir" ] && echo "$dir"
    done
}

say "running the core's C++ tests"
build_native coverage-native -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER="${CXX:-g++}" \
    -DPEMRIK_COVERAGE=ON -DPEMRIK_CORE_TESTS=ON -DPEMRIK_FUZZ=ON -DFUZZ_MODE=replay >/dev/null
"$venv/bin/ctest" --test-dir "$native_build" -Q --output-on-failure || say "the core's tests failed; coverage is reported all the same"

say "running the test suite"
(cd "$root/tests" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@") || say "the suite failed; coverage is reported all the same"
mapfile -t dirs < <(corpora core_fuzz)
say "replaying the fuzz target's corpus ($(find "${dirs[@]}" -type f | wc -l) inputs)"
find "${dirs[@]}" -type f -print0 | xargs -0 -r "$native_build/core_fuzz"

# Notes of sources that a build no longer has (a file moved or removed) stay
# beside their stale objects; ninja drops the objects, then the notes go too.
for build in "$module_build" "$native_build"; do
    "$venv/bin/ninja" -C "$build" -t cleandead >/dev/null
    find "$build" -name '*.gcno' -print0 | while IFS= read -r -d '' notes; do
        [ -e "${notes%.gcno}.o" ] || rm -f "$notes"
    done
done

report=(--root "$root" --filter "$root/src/" --exclude-throw-branches --exclude-unreachable-branches
        --sort uncovered-number "$module_build" "$native_build")
"$venv/bin/gcovr" "${report[@]}" --txt
"$venv/bin/gcovr" "${report[@]}" --txt --txt-metric branch
