#!/usr/bin/env bash
# Sets up everything pemrik needs and runs one task:
#   bash scripts/dev.sh demo    build, install, run examples/demo.py
#   bash scripts/dev.sh test    build, install, run the test suite (pytest arguments pass on)
#   bash scripts/dev.sh         list every task with a line on what it does
# The other tasks live in scripts/tasks/NAME.sh, each sourced with the
# functions below; the first line of each says what it does.
# Each task finds the interpreter itself, keeps its own virtual environment in
# .venv-<version>, and rebuilds the module incrementally. CPython 3.13 is the
# default; PEMRIK_PYTHON names another one, as a version (3.11, 3.12, 3.14,
# 3.15, or 3.14t for the free-threaded build) or as the path of an interpreter
# (its version, with a t when free-threaded, then names the environment).
# Versions are looked for on PATH, in /usr/bin, /usr/local/bin, pyenv's
# versions folder and the interpreter cache, PEMRIK_CPYTHON_CACHE (default
# ~/.cache/pemrik/cpython/<version>/), where `bash scripts/dev.sh get-python
# 3.14|3.15|3.14t` installs one.
set -euo pipefail

say() { printf 'pemrik: %s\n' "$*" >&2; }

# An interpreter given by its path: resolved before leaving the caller's
# folder, and asked for its version.
python_path=
want=${PEMRIK_PYTHON:-3.13}
if ! [[ $want =~ ^3\.[0-9]+t?$ ]]; then
    if ! python_path=$(command -v "$want" 2>/dev/null) ||
        ! want=$("$python_path" -c 'import sys, sysconfig
t = "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""
print("%d.%d%s" % (sys.version_info[:2] + (t,)))' 2>/dev/null); then
        say "PEMRIK_PYTHON=$PEMRIK_PYTHON is neither a version (3.14, 3.14t) nor a working interpreter"
        exit 1
    fi
    python_path=$(cd "$(dirname "$python_path")" && pwd)/$(basename "$python_path")
fi
cpython_cache=${PEMRIK_CPYTHON_CACHE:-$HOME/.cache/pemrik/cpython}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# PEMRIK_SLOT=name keeps a separate environment and build folder, so that two
# runs at once do not share them.
slot=${PEMRIK_SLOT:+-$PEMRIK_SLOT}
# PEMRIK_NO_SIMD=1 builds the portable byte loops alone, in a slot of its own.
no_simd=OFF
if [ "${PEMRIK_NO_SIMD:-0}" != 0 ]; then
    no_simd=ON
    slot="$slot-nosimd"
fi
# Compiler warnings are errors in CI; PEMRIK_WERROR=1 or 0 says otherwise.
# Always passed, so that a build folder does not keep an earlier run's.
werror=OFF
if [ "${PEMRIK_WERROR:-$([ "${CI:-}" = true ] && echo 1)}" = 1 ]; then werror=ON; fi

# Prints the path of a working python$want, or fails saying what is missing.
# A version with a t is the free-threaded build; one without it is not (a
# free-threaded install has a python3.14 too).
find_python() {
    local minor=${want%t} ft=0
    [ "$minor" = "$want" ] || ft=1
    local check="import sys, sysconfig
ft = bool(sysconfig.get_config_var('Py_GIL_DISABLED'))
sys.exit(sys.version_info[:2] != tuple(map(int, '$minor'.split('.'))) or ft != bool($ft))"
    local candidates=()
    [ -z "$python_path" ] || candidates+=("$python_path")
    candidates+=("python$want" "/usr/bin/python$want" "/usr/local/bin/python$want")
    local pyenv_root=${PYENV_ROOT:-$HOME/.pyenv}
    command -v pyenv >/dev/null 2>&1 && pyenv_root=$(pyenv root)
    # A pyenv shim answers only when pyenv selects the version, so look in
    # pyenv's own versions folder too, newest patch release first (pyenv
    # names a free-threaded build 3.14.0t).
    local found
    for found in $(ls -d "$pyenv_root"/versions/"$minor".*/bin/python"$want" 2>/dev/null | sort -rV); do
        candidates+=("$found")
    done
    candidates+=("$cpython_cache/$want/bin/python$want")
    local c path
    for c in "${candidates[@]}"; do
        path=$(command -v "$c" 2>/dev/null) || continue
        if "$path" -c "$check" >/dev/null 2>&1; then
            echo "$path"
            return 0
        fi
    done
    say "no working python$want found (looked on PATH, in /usr/bin, /usr/local/bin, $pyenv_root/versions and $cpython_cache/$want)."
    case $want in
        3.14 | 3.15 | 3.14t) say "install it with: bash scripts/dev.sh get-python $want" ;;
        *) say "install CPython $want with its headers and venv module (for example: pyenv install $want, or apt-get install python$want-dev python$want-venv)." ;;
    esac
    return 1
}

# Installs a Debian package (as root, with apt) for what is missing, or
# says which package to install.
install_package() {
    local what=$1 package=$2
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        say "installing $package for $what"
        if [ -z "${PEMRIK_APT_UPDATED:-}" ]; then
            apt-get update -qq >/dev/null
            export PEMRIK_APT_UPDATED=1
        fi
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package" >/dev/null
    else
        say "$what is missing; install the $package package"
        return 1
    fi
}

# Tests and tasks run real tools: a command, or a file a package provides.
need_command() { command -v "$1" >/dev/null 2>&1 || install_package "$1" "$2"; }
need_file() { [ -e "$1" ] || install_package "$1" "$2"; }

# pip, its lines about the machine's configured local package folders that
# do not exist left out (they say nothing about what is installed).
run_pip() {
    "$venv/bin/python" -m pip "$@" 2> >(grep -v "is ignored: it is neither a file nor a directory" >&2)
}

# Creates the virtual environment and installs the build backend of
# [build-system] with the "build" dependency group and the named groups of
# pyproject.toml, again only when those declarations changed:
#   setup_venv test bench
setup_venv() {
    local python
    python=$(find_python)
    venv="$root/.venv-$want$slot"
    if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c "" 2>/dev/null; then
        say "creating $venv with $python"
        rm -rf "$venv"
        "$python" -m venv "$venv"
    fi
    local groups=(build) g
    for g in "$@"; do
        [[ " ${groups[*]} " == *" $g "* ]] || groups+=("$g")
    done
    # First line: a digest of what is asked; then the backend's requirements.
    local declared
    declared=$("$venv/bin/python" - "$root/pyproject.toml" "${groups[@]}" <<'PY'
import hashlib, json, sys, tomllib
with open(sys.argv[1], "rb") as f:
    project = tomllib.load(f)
groups = project.get("dependency-groups", {})
missing = [g for g in sys.argv[2:] if g not in groups]
if missing:
    sys.exit(f"pyproject.toml has no dependency group {', '.join(missing)}")
backend = project["build-system"]["requires"]
asked = json.dumps([sys.argv[2:], backend, groups], sort_keys=True)
print(hashlib.sha256(asked.encode()).hexdigest())
print("\n".join(backend))
PY
)
    local stamp="$venv/.requirements"
    if [ "$(cat "$stamp" 2>/dev/null)" != "${declared%%$'\n'*}" ]; then
        say "installing the tools of ${groups[*]// /, } from PyPI into $venv (a first time takes a minute or two)"
        local install=(run_pip install -q --disable-pip-version-check) args=()
        # Dependency groups need pip 25.1 or later.
        "${install[@]}" 'pip>=25.1'
        mapfile -t args < <(tail -n +2 <<<"$declared")
        for g in "${groups[@]}"; do args+=(--group "$root/pyproject.toml:$g"); done
        "${install[@]}" "${args[@]}"
        echo "${declared%%$'\n'*}" > "$stamp"
    fi
}

# Postman's collection runner for the tests: newman from PATH when there is
# one, else the copy that ships beside the repository root (shared/postman,
# as CI has it), unpacked once into build/newman/. Without either the runner
# tests skip and say so.
prepare_newman() {
    command -v newman >/dev/null 2>&1 && return 0
    local tarball="${PEMRIK_POSTMAN:-$root/../shared/postman}/newman-node_modules.tgz"
    local script="$root/build/newman/node_modules/newman/bin/newman.js"
    if [ ! -f "$script" ] && [ -f "$tarball" ]; then
        say "unpacking newman from $tarball into build/newman/"
        rm -rf "$root/build/newman.partial"
        mkdir -p "$root/build/newman.partial"
        tar -xzf "$tarball" -C "$root/build/newman.partial"
        rm -rf "$root/build/newman"
        mv "$root/build/newman.partial" "$root/build/newman"
    fi
    if [ -f "$script" ]; then
        export PEMRIK_NEWMAN="$script"
        need_command node nodejs
    fi
}

# Builds the module incrementally and installs it into the venv. The build
# folder is this script's own (pip install . keeps build/{wheel_tag}), and a
# build with warnings as errors has another, so that none rebuilds another's.
install_module() {
    local folder="build/dev-{wheel_tag}$slot"
    [ "$werror" = OFF ] || folder="$folder-werror"
    say "building pemrik (incrementally) and installing it; a first build takes about a minute"
    run_pip install -q --disable-pip-version-check \
        --no-build-isolation --no-deps --force-reinstall \
        --config-settings=build-dir="$folder" \
        --config-settings=cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=$werror \
        --config-settings=cmake.define.PEMRIK_NO_SIMD=$no_simd "$@" .
}

# Builds the core alone (no Python) with its C++ tests, with SSE2 and with the
# portable loops, and runs them with ctest, together with the check that no
# core file includes the C API.
core_tests() {
    local build="$root/build/core-tests$slot"
    "$venv/bin/cmake" -S "$root" -B "$build" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja" \
        -DCMAKE_BUILD_TYPE=Release -DPEMRIK_MODULE=OFF -DPEMRIK_CORE_TESTS=ON \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=$werror >/dev/null
    "$venv/bin/cmake" --build "$build"
    "$venv/bin/ctest" --test-dir "$build" --output-on-failure
}

case "${1:-}" in
    demo)
        setup_venv
        install_module
        exec "$venv/bin/python" examples/demo.py
        ;;
    test)
        need_command curl curl
        need_command nm binutils
        need_command openssl openssl
        prepare_newman
        setup_venv test
        install_module
        shift
        say "running the test suite"
        cd "$root/tests"
        exec "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@"
        ;;
    "" | help | -h | --help)
        echo "usage: bash scripts/dev.sh TASK [arguments]"
        echo
        printf '  %-13s %s\n' demo "build, install and run examples/demo.py"
        printf '  %-13s %s\n' test "build, install and run the test suite (pytest arguments pass on)"
        for task in "$root"/scripts/tasks/*.sh; do
            line=$(head -1 "$task")
            name=${line#\# }
            printf '  %-13s %s\n' "${name%%:*}" "${name#*: }"
        done
        [ -n "${1:-}" ] || exit 2
        ;;
    *)
        task="$root/scripts/tasks/$1.sh"
        if [ ! -f "$task" ]; then
            say "no task '$1'; bash scripts/dev.sh lists them"
            exit 2
        fi
        shift
        source "$task"
        ;;
esac
