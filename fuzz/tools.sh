# build_native NAME [-D...]: builds the project without the module in build/NAME
# with those definitions and prints that folder (for the fuzz and coverage tasks).
build_native() {
    local dir="$root/build/$1$slot" log
    shift
    "$venv/bin/cmake" -S "$root" -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
        -DPEMRIK_MODULE=OFF "$@" >/dev/null || return
    log=$("$venv/bin/cmake" --build "$dir" 2>&1) || { echo "$log" >&2; return 1; }
    echo "$dir"
}
