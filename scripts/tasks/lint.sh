# lint: check layout and lint of every source file, changing nothing
#
# check the layout and lint of every source file, changing nothing.
#   bash scripts/dev.sh lint
# C++ against .clang-format, Python with ruff (its lint rules, then its
# formatter's layout; both configured in pyproject.toml), and whitespace
# (trailing blanks, conflict markers) in every tracked file. The tools are
# the pinned ones of the "lint" dependency group, in their own environment.
# `bash scripts/dev.sh format` applies what can be applied. Runs every check
# and fails if any failed.
slot="$slot-lint"
setup_venv lint
status=0
check() {
    local name=$1
    shift
    if "$@"; then
        say "lint: $name clean"
    else
        say "lint: $name FAILED"
        status=1
    fi
}
cxx_files() {
    git -C "$root" ls-files --cached --others --exclude-standard -z \
        '*.cpp' '*.hpp' '*.cc' '*.h' '*.c'
}
# One line per file that clang-format would change.
cxx_format() {
    local file bad=0
    while IFS= read -r -d '' file; do
        if ! "$venv/bin/clang-format" --dry-run -Werror --style=file "$root/$file" 2>/dev/null; then
            echo "$file: not laid out as .clang-format says"
            bad=1
        fi
    done < <(cxx_files)
    return "$bad"
}
check "C++ layout (clang-format)" cxx_format
check "Python lint (ruff check)" "$venv/bin/ruff" check --no-cache --output-format=concise "$root"
check "Python layout (ruff format)" "$venv/bin/ruff" format --no-cache --check --output-format=concise "$root"
# From the empty tree to the work tree: every tracked line, not only changes.
check "whitespace" git -C "$root" diff --check "$(git -C "$root" hash-object -t tree /dev/null)"
exit "$status"
