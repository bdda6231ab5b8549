#!/usr/bin/env bash
# Fails when a file with a core/ folder in its path reaches the C API: when it
# includes Python.h, or a project header outside the core folders, directly
# or through any chain of quoted includes.
#   bash scripts/check-core-includes.sh [SRC]        (SRC defaults to src/)
set -euo pipefail

src=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../src" && pwd)}
cd "$src"
failed=0
declare -A seen

is_core() { [[ "/$1" == */core/* ]]; }

# check FILE CHAIN: the includes of FILE, which CHAIN (from a core file) reached.
check() {
    local file=$1 chain=$2 header
    [ -n "${seen[$file]:-}" ] && return 0
    seen[$file]=1
    while read -r header; do
        case "$header" in
            '<Python.h>' | '"Python.h"')
                echo "core include check: $chain includes Python.h" >&2
                failed=1 ;;
            '"'*)
                header=${header//\"/}
                if ! is_core "$header"; then
                    echo "core include check: $chain includes $header, which is not a core header" >&2
                    failed=1
                elif [ ! -f "$header" ]; then
                    echo "core include check: $chain includes $header, which does not exist" >&2
                    failed=1
                else
                    check "$header" "$chain -> $header"
                fi ;;
        esac
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*\([<"][^>"]*[>"]\).*/\1/p' "$file")
}

count=0
while read -r file; do
    check "$file" "$file"
    count=$((count + 1))
done < <(find . -path '*/core/*' -type f \( -name '*.hpp' -o -name '*.cpp' -o -name '*.h' \) | sed 's#^\./##' | sort)

if [ "$count" = 0 ]; then
    echo "core include check: no core files under $src" >&2
    exit 1
fi
exit $failed
