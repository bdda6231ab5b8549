# fuzz-native: coverage-guided fuzzing of the core (smoke: 20 s)
#
# Coverage-guided fuzzing of the core under AddressSanitizer and
# UndefinedBehaviorSanitizer (core_fuzz, libFuzzer, the project's PEMRIK_FUZZ
# build):
#   bash scripts/dev.sh fuzz-native [seconds]   for that long (default 600)
#   bash scripts/dev.sh fuzz-native smoke       for 20 s (CI)
#   bash scripts/dev.sh fuzz-native merge       fold what runs found into the seeds
# A run starts from the committed seeds (fuzz/corpus/core_fuzz) and keeps what
# it finds in build/fuzz-corpus/core_fuzz. A crashing input is copied into the
# committed corpus as fuzz/corpus/core_fuzz/crash-*, to be kept as a
# regression, and the task fails. Merging (libFuzzer's -merge=1) adds to the
# committed corpus only those inputs of every build/fuzz-corpus*/core_fuzz, of
# at most 512 bytes, that reach a code edge its files do not (hit counts
# aside), so that it stays small.
source "$root/fuzz/tools.sh"
# clang with libFuzzer and the sanitizer runtimes. clang 16 is the first of
# Debian's with the built-in that the C++ library's std::source_location needs.
clang_version=16
clangxx=clang++-$clang_version
need_command "$clangxx" "clang-$clang_version"
need_file "$("$clangxx" -print-file-name=libclang_rt.fuzzer-x86_64.a)" "libclang-rt-$clang_version-dev"
seconds=${1:-600}
if [ "$seconds" = smoke ]; then seconds=20; fi
merge=0
if [ "$seconds" = merge ]; then merge=1; fi

slot="$slot-fuzz"
setup_venv
native=$(build_native native -DCMAKE_CXX_COMPILER="$clangxx" -DPEMRIK_FUZZ=ON -DFUZZ_MODE=libfuzzer) || exit

target=core_fuzz
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
env ASAN_OPTIONS="halt_on_error=1:detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$native/$target" "${options[@]}" >"$log" 2>&1 && rc=0 || rc=$?
runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
cov=$(grep -oE '^#[0-9]+.*cov: [0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+' || true)
if [ "$rc" -ne 0 ]; then
    for crash in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
        [ -e "$crash" ] && cp "$crash" "$seeds/"
    done
    tail -40 "$log" >&2
    say "$target: FAILED (exit $rc; log $log; inputs copied to $seeds)"
    exit 1
elif [ "$merge" = 1 ]; then
    say "$target: $(( $(ls "$seeds" | wc -l) - before )) inputs added to $before in $seeds"
else
    say "$target: ${runs:-?} executions in $seconds s, corpus $(ls "$found" | wc -l) inputs found + $(ls "$seeds" | wc -l) seeds, ${cov:-cov: ?} edges"
fi
