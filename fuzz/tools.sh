# Shared by scripts/tasks/fuzz-native.sh and scripts/tasks/coverage.sh (sourced
# after scripts/dev.sh has defined root, want, slot, say and the venv helpers).

# clang with libFuzzer and the sanitizer runtimes, and the JSON parser of the
# native oracles. clang 16 is the first of Debian's with the built-in that the
# C++ library's std::source_location needs.
clang_version=16
clangxx=clang++-$clang_version
need_clang() {
    need_command "$clangxx" "clang-$clang_version"
    need_file "$("$clangxx" -print-file-name=libclang_rt.fuzzer-x86_64.a)" "libclang-rt-$clang_version-dev"
    need_file /usr/include/nlohmann/json.hpp nlohmann-json3-dev
}

# Builds the native targets (fuzz/CMakeLists.txt) in build/NAME with FUZZ_MODE
# and the compiler given.
build_native() {
    local name=$1 mode=$2 compiler=$3
    local dir="$root/build/$name$slot"
    "$venv/bin/cmake" -S "$root/fuzz" -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
        -DCMAKE_CXX_COMPILER="$compiler" -DFUZZ_MODE="$mode" >/dev/null
    "$venv/bin/cmake" --build "$dir" >/dev/null
    echo "$dir"
}
