# tsan: the threads test under ThreadSanitizer with the GIL off (not in CI)
#
# the threads test under ThreadSanitizer, with the GIL off.
#   bash scripts/dev.sh tsan [rounds]
# Sourced by scripts/dev.sh. Needs a free-threaded CPython built with
# --with-thread-sanitizer: made once into the interpreter cache
# ($cpython_cache/3.14t-tsan, from the 3.14.7 tarball in ../shared/cpython;
# several minutes) and reused. The module is built with -fsanitize=thread in
# an environment of its own; the test runs ROUNDS rounds per thread (default
# 2000) and the task fails on any report whose stack names the module.
# Not part of CI: the instrumented interpreter takes long to build.
rounds=${1:-2000}
prefix="$cpython_cache/3.14t-tsan"
python_path="$prefix/bin/python3.14t"
shared=${PEMRIK_CPYTHON_SHARED:-$root/../shared/cpython}
if ! "$python_path" -c "import sys; sys.exit(sys._is_gil_enabled())" 2>/dev/null; then
    say "building CPython 3.14.7 free-threaded with ThreadSanitizer into $prefix (several minutes)"
    CPYTHON_TARBALL="$shared/Python-3.14.7.tar.xz" \
        CPYTHON_SHA256=d63a0eb916ea911c22e405a953ce875eae653e332ae97ccd00a32afb7322967d \
        CPYTHON_CONFIGURE_ARGS=--with-thread-sanitizer \
        bash "$shared/build-cpython.sh" 3.14.7 t "$prefix"
fi
want=3.14t
slot="$slot-tsan"
setup_venv test
say "building the module with -fsanitize=thread"
install_module --config-settings=cmake.build-type=RelWithDebInfo \
    "--config-settings=cmake.define.CMAKE_CXX_FLAGS=-fsanitize=thread" \
    "--config-settings=cmake.define.CMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread"

# The interpreter's own known races are suppressed with the list its
# sources ship; reports go to a log per process, read below.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xJf "$shared/Python-3.14.7.tar.xz" -C "$work" Python-3.14.7/Tools/tsan
export TSAN_OPTIONS="suppressions=$work/Python-3.14.7/Tools/tsan/suppressions_free_threading.txt:log_path=$work/tsan:halt_on_error=0"
export PEMRIK_THREAD_ROUNDS=$rounds
start=$SECONDS
say "running the threads test, $rounds rounds per thread"
status=0
(cd "$root/tests" && "$venv/bin/python" -m pytest -q -p no:cacheprovider reliability/test_threads.py) || status=$?
reports=$(cat "$work"/tsan.* 2>/dev/null | grep -c "WARNING: ThreadSanitizer" || true)
ours=$(cat "$work"/tsan.* 2>/dev/null | grep -c "pemrik" || true)
say "threads test: exit $status in $((SECONDS - start)) s; ThreadSanitizer reports: $reports, lines naming the module: $ours"
[ "$ours" = 0 ] || cat "$work"/tsan.* >&2
[ "$status" = 0 ] && [ "$ours" = 0 ]
