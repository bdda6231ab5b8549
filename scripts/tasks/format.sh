# format: lay out every source file the way lint checks it
#
# lay out every source file the way `bash scripts/dev.sh lint` checks.
#   bash scripts/dev.sh format            rewrite the files in place
#   bash scripts/dev.sh format --commit   the same as one commit of its own
# C++ with clang-format, Python with ruff's safe fixes (import order, obsolete
# syntax) and then its formatter. Lint findings that need a person (a line
# too long to split, a zip without strict=) are left for lint to report.
# With --commit the work tree must be clean; the formatting commit is then
# listed in .git-blame-ignore-revs (in a second commit), so that blame looks
# through it.
slot="$slot-lint"
setup_venv lint
commit=
if [ "${1:-}" = --commit ]; then
    commit=1
    if [ -n "$(git -C "$root" status --porcelain)" ]; then
        say "format --commit needs a clean work tree"
        exit 1
    fi
fi
git -C "$root" ls-files --cached --others --exclude-standard -z \
    '*.cpp' '*.hpp' '*.cc' '*.h' '*.c' | xargs -0 -r "$venv/bin/clang-format" -i --style=file
"$venv/bin/ruff" check --no-cache --fix-only --quiet "$root"
"$venv/bin/ruff" format --no-cache --quiet "$root"
changed=$(git -C "$root" status --porcelain | wc -l)
say "format: $changed files changed"
if [ -n "$commit" ] && [ "$changed" -gt 0 ]; then
    git -C "$root" commit -q -a -m "Format the tree with clang-format and ruff" -m \
        "Mechanical: the layout of .clang-format and of ruff in pyproject.toml
applied once to every file (bash scripts/dev.sh format), so that from
here on lint checks it. No change in behaviour."
    git -C "$root" rev-parse HEAD >> "$root/.git-blame-ignore-revs"
    git -C "$root" add .git-blame-ignore-revs
    git -C "$root" commit -q -m "Blame looks through the formatting commit" -m \
        "git blame --ignore-revs-file .git-blame-ignore-revs (or the setting
blame.ignoreRevsFile) attributes each line to the change before it."
    say "format: committed $(git -C "$root" rev-parse --short HEAD~1) and $(git -C "$root" rev-parse --short HEAD)"
fi
