# get-python: install CPython 3.14, 3.15 or 3.14t into the interpreter cache
#
# install CPython 3.14, 3.15 or the free-threaded 3.14t into the
# interpreter cache when no working one is found.
#   bash scripts/dev.sh get-python 3.14|3.15|3.14t
# Sourced by scripts/dev.sh with the task name shifted off. The cache is
# PEMRIK_CPYTHON_CACHE (default ~/.cache/pemrik/cpython), one prefix per
# version (3.14/bin/python3.14, 3.14t/bin/python3.14t), outside the
# repository so that every clone on the machine reuses it. When the version
# is already found (in the cache, on PATH, in pyenv's folder) the task says
# where and does nothing.
#
# The installers come from ../shared/cpython beside the repository root
# (PEMRIK_CPYTHON_SHARED names another folder; its README tells more):
# - 3.14 and 3.15: Debian's own binary build from the unstable suite, unpacked
#   with its C library into the prefix (debian-binary-cpython.sh; seconds);
# - 3.14t: built from the CPython release tarball held there with
#   --disable-gil (build-cpython.sh; two to six minutes on two cores).
[ $# = 1 ] || { say "usage: bash scripts/dev.sh get-python 3.14|3.15|3.14t"; exit 2; }
want=$1
python_path=
case $want in
    3.14 | 3.15 | 3.14t) ;;
    *) say "get-python installs 3.14, 3.15 or 3.14t, not '$want'"; exit 2 ;;
esac
if found=$(find_python 2>/dev/null); then
    say "CPython $want is already here: $found; nothing to do"
    exit 0
fi

shared=${PEMRIK_CPYTHON_SHARED:-$root/../shared/cpython}
# The release tarball for the free-threaded build, checked before unpacking.
tarball="$shared/Python-3.14.7.tar.xz"
tarball_sha256=d63a0eb916ea911c22e405a953ce875eae653e332ae97ccd00a32afb7322967d
prefix="$cpython_cache/$want"
# Present while an install is under way: a prefix that still has it was left
# by an interrupted run and is started again; a prefix without it that holds
# no working interpreter is someone else's, and left alone.
unfinished="$cpython_cache/.$want.unfinished"

mkdir -p "$cpython_cache"
# One install per version at a time, across clones and CI runs.
exec 9>"$cpython_cache/.$want.lock"
if command -v flock >/dev/null 2>&1 && ! flock -n 9; then
    say "another run is installing CPython $want into $prefix; waiting for it"
    flock 9
    if found=$(find_python 2>/dev/null); then
        say "CPython $want is now here: $found"
        exit 0
    fi
fi
if [ -e "$unfinished" ]; then
    if [ -e "$prefix" ]; then
        say "removing $prefix, left unfinished by an interrupted install"
        rm -rf "$prefix"
    fi
elif [ -e "$prefix" ] && [ -n "$(ls -A "$prefix")" ]; then
    say "$prefix exists but holds no working python$want; move it away, then run this again"
    exit 1
fi
touch "$unfinished"

start=$SECONDS
case $want in
    3.14 | 3.15)
        installer="$shared/debian-binary-cpython.sh"
        [ -f "$installer" ] || { say "$installer is missing"; exit 1; }
        need_command patchelf patchelf
        need_command dpkg-deb dpkg
        say "installing Debian's binary CPython $want into $prefix (downloads about 30 packages; seconds)"
        bash "$installer" "$want" "$prefix"
        ;;
    3.14t)
        installer="$shared/build-cpython.sh"
        [ -f "$installer" ] || { say "$installer is missing"; exit 1; }
        [ -f "$tarball" ] || { say "$tarball is missing"; exit 1; }
        for tool in gcc:gcc make:make xz:xz-utils curl:curl; do
            need_command "${tool%%:*}" "${tool#*:}"
        done
        # The headers of the modules pip and the suite rely on (ssl, zlib,
        # ctypes, the compressors); without them the build leaves them out.
        # Some live in the architecture's own include folder.
        multiarch=$(gcc -print-multiarch)
        for header in openssl/ssl.h:libssl-dev zlib.h:zlib1g-dev ffi.h:libffi-dev \
            bzlib.h:libbz2-dev lzma.h:liblzma-dev; do
            [ -e "/usr/include/$multiarch/${header%%:*}" ] ||
                need_file "/usr/include/${header%%:*}" "${header#*:}"
        done
        work="$cpython_cache/.work-$want"
        rm -rf "$work"
        say "building CPython 3.14.7 free-threaded from $tarball into $prefix (two to six minutes; logs in $work)"
        # In a process group of its own, ended with this task however it ends.
        CPYTHON_TARBALL=$tarball CPYTHON_SHA256=$tarball_sha256 CPYTHON_WORKDIR=$work \
            setsid bash "$installer" 3.14.7 t "$prefix" &
        build=$!
        trap 'kill -- -"$build" 2>/dev/null || true' EXIT
        trap 'exit 130' INT TERM
        # Configure and make are minutes of silence: a line every 30 s, with
        # the step under way.
        next=$((SECONDS + 30))
        while kill -0 "$build" 2>/dev/null; do
            sleep 1
            if [ "$SECONDS" -ge "$next" ] && kill -0 "$build" 2>/dev/null; then
                step=$(ls -t "$work"/*.log 2>/dev/null | head -1)
                say "still building CPython $want ($((SECONDS - start)) s${step:+, at $(basename "$step" .log)})"
                next=$((SECONDS + 30))
            fi
        done
        wait "$build"
        rm -rf "$work"
        ;;
esac
if ! found=$(find_python); then
    say "the install of CPython $want into $prefix did not leave a working python$want"
    exit 1
fi
rm -f "$unfinished"
say "installed CPython $want in $((SECONDS - start)) s: $found"
