# mutants: the suite against deliberately broken builds; fails if one passes
#
# Deliberately broken builds (mutants): shows that the suite fails on each.
#   bash scripts/dev.sh mutants [NAME...]    (all mutants when none is named)
# Copies the tree to a temporary folder, builds it once unchanged (the suite
# must pass there), then for each mutant puts the pristine sources back,
# applies the mutant's text substitution, builds incrementally and runs what
# the test command runs: the core's C++ tests, then the Python suite. Prints
# for each mutant the test files that failed; exits non-zero if any mutant
# survives, or if one no longer applies or builds (a pattern that is not
# found fails loudly, so that a mutant never becomes a no-op).
# The environment is a slot of its own (.venv-3.13-mutants) and the builds
# live in the copy, so that other builds are left alone.
need_command curl curl
need_command nm binutils
need_command openssl openssl
slot="$slot-mutants"
prepare_newman
setup_venv test
# The copy has no shared/postman beside it: point at the original's.
export PEMRIK_POSTMAN=${PEMRIK_POSTMAN:-$root/../shared/postman}

work=$(mktemp -d)
logs=$root/build/mutants
trap 'rm -rf "$work"' EXIT
rm -rf "$logs" && mkdir -p "$logs" "$work/tree" "$work/pristine"
tar -C "$root" --exclude=./build --exclude='./.venv*' --exclude=./.git -cf - . | tar -C "$work/tree" -xf -
cp -r "$root/src" "$work/pristine/src"
origin=$root
root=$work/tree
cd "$root"

# The mutants: name, file under src/, how many times the text must occur,
# the text and its replacement (Python string literals).
mutate() {
    "$venv/bin/python" - "$@" <<'PY'
import sys
from pathlib import Path

MUTANTS = {
    # \n written as \r in JSON strings
    "json-escape": ("core/text.hpp", 1, "table['\\n'] = 'n';", "table['\\n'] = 'r';"),
    # the last header left out of the curl line
    "curl-header": ("request/core/curl.cpp", 2, "for (std::size_t i = 0; i < r.header_count(); ++i) {",
                    "for (std::size_t i = 0; i + 1 < r.header_count(); ++i) {"),
    # the last header left out of the exported document
    "export-header": ("collection/core/document.cpp", 1,
                      "for (std::size_t k = 0; k < record.header_count(); ++k) {",
                      "for (std::size_t k = 0; k + 1 < record.header_count(); ++k) {"),
    # a borrow kept when its holder leaves by an error
    "borrow-held": ("module/borrow.hpp", 1, "    ~Borrow() {\n",
                    "    ~Borrow() {\n        if (PyErr_Occurred()) return;\n"),
    # the new str used without its null check
    "unchecked-alloc": ("module/output.hpp", 1, "Ref str = check(PyUnicode_New(",
                        "Ref str = Ref::steal(PyUnicode_New("),
    # $ left unescaped inside double quotes
    "shell-dollar": ("core/text.hpp", 1, 'set_of("\\\\\\"$`")', 'set_of("\\\\\\"`")'),
    # the url read through the caller's reference only, across script code
    "url-lifetime": ("request/request_type.cpp", 1,
                     'const auto url = convert_argument("url", [&] { return utf8_of(slot[0].get()); });',
                     "PyObject* url_object = const_cast<Ref&>(slot[0]).release();\n    Py_DECREF(url_object);\n"
                     '    const auto url = convert_argument("url", [&] { return utf8_of(url_object); });'),
    # an instance no constructor made is read as if it had a record
    "unmade-check": ("module/borrow.hpp", 1, "while (flag != no_state && flag < exclusive - 1)",
                     "while (flag < exclusive - 1)"),
    # a failing length hint clears any exception, interrupts included
    "length-hint": ("module/convert.hpp", 1,
                    "if (!PyErr_ExceptionMatches(PyExc_Exception)) throw_python_error();", ""),
    # a scheme's second character is not checked
    "scheme-off-by-one": ("request/core/url.cpp", 1, "std::size_t i = 1;", "std::size_t i = 2;"),
    # a single quote inside single quotes closed and escaped but not reopened
    "single-quote": ("core/text.hpp", 1, "quote_in_single_quotes = \"'\\\\''\";",
                     "quote_in_single_quotes = \"'\\\\'\";"),
    # a header item read from a script's sequence not kept while the record points into it
    "item-kept": ("module/convert.hpp", 1, "if (kept) kept->push_back(std::move(item));", "(void)kept;"),
    # each item of a script's sequence keeps one reference too many
    "item-leak": ("module/convert.hpp", 1, "Ref item = Ref::steal(PyIter_Next(", "Ref item = Ref::borrow(PyIter_Next("),
    # "=" may no longer stand in a bare url
    "bare-url-equals": ("core/text.hpp", 1, 'set_of("@%+=:,./-_")', 'set_of("@%+:,./-_")'),
    # the six-byte JSON escapes counted as two-byte ones by the SIMD measure
    "simd-long-escapes": ("core/text.hpp", 1,
                          "m.added += S::added_longer * simd::bit_count(simd::in<S::longer>(v));",
                          "m.added += 0 * simd::bit_count(simd::in<S::longer>(v));"),
    # the SIMD range compare without its upper clamp
    "simd-range-clamp": ("core/text.hpp", 1,
                         "if constexpr (Hi != 255) clamped = _mm_min_epu8(clamped, _mm_set1_epi8(static_cast<char>(Hi)));",
                         ""),
    # two method names swapped
    "method-swap": ("request/core/method.hpp", 1, '"GET", "POST", "PUT",', '"POST", "GET", "PUT",'),
}

if sys.argv[1] == "names":
    print(" ".join(MUTANTS))
    sys.exit()
name, src = sys.argv[2], Path(sys.argv[3])
file, count, old, new = MUTANTS[name]
path = src / file
text = path.read_text()
if text.count(old) != count:
    sys.exit(f"mutant {name}: {file} holds {text.count(old)} times, not {count}, the text {old!r}")
path.write_text(text.replace(old, new))
PY
}

# The test files that failed in a junit report, and those named by a crash.
caught_by() {
    "$venv/bin/python" - "$@" <<'PY'
import re, sys
import xml.etree.ElementTree as ET
from pathlib import Path

report, log = Path(sys.argv[1]), Path(sys.argv[2]).read_text(errors="replace")
files = set()
if report.is_file():
    for case in ET.parse(report).iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            files.add(case.get("file") or case.get("classname"))
else:  # the suite itself died: the test files on its last traceback
    files.update(re.findall(r'File "[^"]*/(tests/[\w/]+\.py)"', log)[-1:] or ["(suite crashed)"])
print(" ".join(sorted(files)) or "(suite failed)")
PY
}

# Runs the test command's stages on the copy; prints the catching files.
# PEMRIK_MUTANT_TESTS="behaviour clients" runs only those test paths (and
# the core's C++ tests only when it names core).
run_suite() {
    local log=$1 catches=() paths=()
    read -ra paths <<<"${PEMRIK_MUTANT_TESTS:-}"
    if [ ${#paths[@]} -eq 0 ] || [[ " ${paths[*]} " == *" core "* ]]; then
        if ! core_tests >"$log.core" 2>&1; then catches+=(tests/core/core_tests.cpp); fi
    fi
    local p tests=()
    for p in "${paths[@]}"; do [ "$p" = core ] || tests+=("$p"); done
    [ ${#paths[@]} -gt 0 ] && [ ${#tests[@]} -eq 0 ] && { echo "${catches[*]}"; return; }
    install_module >"$log.build" 2>&1 || { echo BUILD; return; }
    (cd "$root/tests" && timeout 1800 "$venv/bin/python" -m pytest -q -p no:cacheprovider \
        -o junit_family=xunit1 --junitxml="$log.xml" ${tests[@]+"${tests[@]}"} >"$log.pytest" 2>&1) ||
        catches+=($(caught_by "$log.xml" "$log.pytest"))
    echo "${catches[*]}"
}

# Puts back the files a mutant changed, with a new time, so the build sees them.
restore() {
    local f
    while read -r f; do
        cmp -s "$work/pristine/$f" "$root/$f" || cp "$work/pristine/$f" "$root/$f"
    done < <(cd "$work/pristine" && find src -type f)
}

names=("$@")
[ ${#names[@]} -gt 0 ] || read -ra names <<<"$(mutate names)"
say "the unchanged tree first (logs in $logs)"
base=$(run_suite "$logs/unchanged")
if [ -n "$base" ]; then
    say "the suite fails on the unchanged tree ($base); see the logs above" >&2
    tail -30 "$logs/unchanged.pytest" "$logs/unchanged.core" >&2
    exit 1
fi

results=() survived=0
for name in "${names[@]}"; do
    restore
    start=$SECONDS
    if ! mutate apply "$name" "$root/src"; then
        results+=("$name|DOES NOT APPLY|")
        survived=1
        continue
    fi
    got=$(run_suite "$logs/$name")
    took=$((SECONDS - start))
    if [ "$got" = BUILD ]; then
        results+=("$name|DOES NOT BUILD|")
        tail -20 "$logs/$name.build" >&2
        survived=1
    elif [ -z "$got" ]; then
        results+=("$name|SURVIVED (${took}s)|")
        survived=1
    else
        results+=("$name|caught (${took}s)|$got")
    fi
    say "mutant ${results[-1]}"
done
restore

echo
echo "mutant | outcome | caught by"
printf '%s\n' "${results[@]}" | sed 's/|/ | /g'
root=$origin
exit "$survived"
