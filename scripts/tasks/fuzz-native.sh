# fuzz-native: coverage-guided fuzzing of the core and the module (smoke: 20 s each)
#
# Coverage-guided fuzzing under AddressSanitizer and UndefinedBehaviorSanitizer:
#   bash scripts/dev.sh fuzz-native [seconds] [target...]   each target for seconds (default 600)
#   bash scripts/dev.sh fuzz-native smoke                   every target for 20 s (CI)
#   bash scripts/dev.sh fuzz-native merge [target...]       fold what runs found into the seeds
# Targets: core_fuzz (the Python-free core, libFuzzer, the project's
# PEMRIK_FUZZ build) and module_fuzz (the module through the interpreter,
# atheris, with the module built by clang with coverage counters). Each target
# starts from its committed seeds (fuzz/corpus/TARGET) and keeps what it finds
# in build/fuzz-corpus/TARGET. A crashing input is copied into the committed
# corpus as fuzz/corpus/TARGET/crash-*, to be kept as a regression, and the
# task fails. Merging (libFuzzer's -merge=1) adds to the committed corpus only
# those inputs of every build/fuzz-corpus*/TARGET, of at most 512 bytes, that
# reach a code edge its files do not (hit counts aside), so that it stays small.
source "$root/fuzz/tools.sh"
# clang with libFuzzer and the sanitizer runtimes. clang 16 is the first of
# Debian's with the built-in that the C++ library's std::source_location needs.
clang_version=16
clangxx=clang++-$clang_version
need_command "$clangxx" "clang-$clang_version"
need_file "$("$clangxx" -print-file-name=libclang_rt.fuzzer-x86_64.a)" "libclang-rt-$clang_version-dev"
seconds=${1:-600}
[ $# -gt 0 ] && shift
if [ "$seconds" = smoke ]; then seconds=20; fi
merge=0
if [ "$seconds" = merge ]; then merge=1; fi
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(core_fuzz module_fuzz)

slot="$slot-fuzz"
setup_venv fuzz

# The module for atheris: clang, coverage counters for libFuzzer, sanitizers
# whose runtime atheris ships (its ASan runtime carries the UBSan handlers
# except the C++ type checks and clang 16's function-type check, so those
# two are left out).
sanitize="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize=vptr,function -fno-sanitize-recover=all"
if printf '%s\n' "${targets[@]}" | grep -qx module_fuzz; then
    CC=clang-$clang_version CXX=$clangxx install_module \
        --config-settings=cmake.build-type=RelWithDebInfo \
        "--config-settings=cmake.define.CMAKE_CXX_FLAGS=$sanitize -fno-omit-frame-pointer -UNDEBUG -O1" \
        "--config-settings=cmake.define.CMAKE_MODULE_LINKER_FLAGS=-fsanitize=address,undefined -fno-sanitize=vptr,function"
fi
if printf '%s\n' "${targets[@]}" | grep -qx core_fuzz; then
    native=$(build_native native -DCMAKE_CXX_COMPILER="$clangxx" -DPEMRIK_FUZZ=ON -DFUZZ_MODE=libfuzzer)
fi

status=0
report=()
for target in "${targets[@]}"; do
    seeds="$root/fuzz/corpus/$target"
    found="$root/build/fuzz-corpus$slot/$target"
    artifacts="$root/build/fuzz-artifacts$slot/$target"
    mkdir -p "$found" "$artifacts"
    rm -f "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*
    log="$artifacts/run.log"
    options=(-max_total_time="$seconds" -artifact_prefix="$artifacts/" -print_final_stats=1
             -timeout=10 -rss_limit_mb=4096 "$found" "$seeds")
    before=$(ls "$seeds" | wc -l)
    if [ "$merge" = 1 ]; then
        mapfile -t runs_found < <(ls -d "$root"/build/fuzz-corpus*/"$target")
        options=(-merge=1 -use_counters=0 -max_len=512 -artifact_prefix="$artifacts/" -timeout=10 -rss_limit_mb=4096
                 "$seeds" "${runs_found[@]}")
        say "merging ${runs_found[*]} into $seeds"
    else
        say "fuzzing $target for $seconds s"
    fi
    case "$target" in
        core_fuzz)
            env ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
                "$native/$target" "${options[@]}" >"$log" 2>&1 && rc=0 || rc=$?
            ;;
        module_fuzz)
            site=$("$venv/bin/python" -c 'import atheris; print(atheris.path())')
            # Leaks are not looked for: the interpreter keeps memory until exit
            # by design (scripts/dev.sh valgrind covers the module's own).
            # Merging runs the script again by its own name (so its python
            # comes first on PATH).
            env PATH="$venv/bin:$PATH" LD_PRELOAD="$site/asan_with_fuzzer.so" PYTHONMALLOC=malloc \
                ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:allocator_may_return_null=1" \
                UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
                "$venv/bin/python" "$root/fuzz/module_fuzz.py" "${options[@]}" >"$log" 2>&1 && rc=0 || rc=$?
            ;;
        *) say "no fuzz target $target"; exit 2 ;;
    esac
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    size=$(ls "$found" | wc -l)
    cov=$(grep -oE '^#[0-9]+.*cov: [0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+' || true)
    if [ "$rc" -ne 0 ]; then
        status=1
        for crash in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
            [ -e "$crash" ] && cp "$crash" "$seeds/"
        done
        tail -40 "$log" >&2
        report+=("$target: FAILED (exit $rc; log $log; inputs copied to $seeds)")
    elif [ "$merge" = 1 ]; then
        report+=("$target: $(( $(ls "$seeds" | wc -l) - before )) inputs added to $before in $seeds")
    else
        report+=("$target: ${runs:-?} executions in $seconds s, corpus $size inputs found + $(ls "$seeds" | wc -l) seeds, ${cov:-cov: ?} edges")
    fi
done
for line in "${report[@]}"; do say "$line"; done
exit "$status"
