# interpreters: the suite on every supported CPython present, a line each
#
# build and test pemrik with every supported CPython here (3.11
# to 3.15 and the free-threaded 3.14t).
#   bash scripts/dev.sh interpreters [pytest arguments]
# Sourced by scripts/dev.sh with the task name shifted off. For each version
# whose interpreter is present, runs the test task with PEMRIK_PYTHON set to it
# (its own virtual environment and build folder), then prints one line per
# version. 3.13 is the reference: its absence is a failure; another version
# that is not installed is reported and passed over (`bash scripts/dev.sh
# get-python 3.14|3.15|3.14t` installs the newer ones).
status=0
results=()
for version in 3.11 3.12 3.13 3.14 3.15 3.14t; do
    if ! (want=$version; find_python >/dev/null 2>&1); then
        if [ "$version" = 3.13 ]; then
            results+=("$version: MISSING (the reference version)"); status=1
        else
            results+=("$version: not installed, skipped")
        fi
        continue
    fi
    say "testing with CPython $version"
    log="$root/build/interpreters-$version$slot.log"
    mkdir -p "$root/build"
    if PEMRIK_PYTHON=$version bash "$root/scripts/dev.sh" test "$@" 2>&1 | tee "$log"; then
        results+=("$version: passed ($(grep -E '[0-9]+ (passed|failed|errors?)' "$log" | tail -1))")
    else
        results+=("$version: FAILED ($(grep -E '[0-9]+ (passed|failed|errors?)' "$log" | tail -1), log: $log)")
        status=1
    fi
done
for line in "${results[@]}"; do say "$line"; done
exit "$status"
