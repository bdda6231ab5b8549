# Shared by scripts/tasks/fuzz-native.sh and scripts/tasks/coverage.sh (sourced
# after scripts/dev.sh has defined root, want, slot, say and the venv helpers).

# clang with libFuzzer and the sanitizer runtimes. clang 16 is the first of
# Debian's with the built-in that the C++ library's std::source_location needs.
clang_version=16
clangxx=clang++-$clang_version
need_clang() {
    need_command "$clangxx" "clang-$clang_version"
    need_file "$("$clangxx" -print-file-name=libclang_rt.fuzzer-x86_64.a)" "libclang-rt-$clang_version-dev"
}

# Configures and builds the project's native targets without the module in
# build/NAME: build_native NAME [cmake definitions...]; prints the folder.
build_native() {
    local dir="$root/build/$1$slot"
    shift
    "$venv/bin/cmake" -S "$root" -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
        -DPEMRIK_MODULE=OFF "$@" >/dev/null || return
    local log
    log=$("$venv/bin/cmake" --build "$dir" 2>&1) || { echo "$log" >&2; return 1; }
    echo "$dir"
}
