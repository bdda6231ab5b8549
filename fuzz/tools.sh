# Shared by scripts/tasks/fuzz-native.sh and scripts/tasks/coverage.sh (sourced
# after scripts/dev.sh has defined root, want, slot, say and the venv helpers).

# Installs a Debian package when a file it provides is missing.
need_file() {
    local file=$1 package=$2
    [ -e "$file" ] && return 0
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        say "installing $package"
        if [ -z "${PEMRIK_APT_UPDATED:-}" ]; then
            apt-get update -qq >/dev/null
            export PEMRIK_APT_UPDATED=1
        fi
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package" >/dev/null
    else
        say "$file is missing; install the $package package"
        return 1
    fi
}

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
