# valgrind: memcheck of every workflow, reporting the module's own frames
#
# Runs every workflow and error path of tests/support/workflows.py under valgrind
# memcheck and reports invalid accesses and definite leaks whose stack passes
# through the module (the interpreter's own findings are counted, not judged):
#   bash scripts/dev.sh valgrind [rounds, default 3]
# Slow (minutes): not part of CI.
need_command valgrind valgrind
slot="$slot-valgrind"
setup_venv test
install_module --config-settings=cmake.build-type=RelWithDebInfo

rounds=${1:-3}
report=$(mktemp --suffix=.xml)
trap 'rm -f "$report"' EXIT
cd "$root/tests"
say "running the leak workflows $rounds times under memcheck"
PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --num-callers=50 --xml=yes --xml-file="$report" \
    "$venv/bin/python" -c "from support.workflows import OPERATIONS, THROUGH_SEQUENCES, exercise, objects; exercise(OPERATIONS + THROUGH_SEQUENCES, objects(64), $rounds)"

"$venv/bin/python" - "$report" <<'PY'
import sys
import xml.etree.ElementTree as ET
from collections import Counter

errors = ET.parse(sys.argv[1]).getroot().findall("error")
ours = []
for error in errors:
    frames = error.findall("stack/frame")
    if any("pemrik" in (f.findtext("obj") or "") for f in frames):
        ours.append(error)
kinds = Counter(e.findtext("kind") for e in errors)
print(f"memcheck: {len(errors)} findings in all ({dict(kinds)}), {len(ours)} with a frame in pemrik")
for error in ours:
    what = error.findtext("what") or error.findtext("xwhat/text")
    print(f"\n{error.findtext('kind')}: {what}")
    for f in error.findall("stack/frame")[:15]:
        where = f"{f.findtext('file')}:{f.findtext('line')}" if f.findtext("file") else f.findtext("obj")
        print(f"    {f.findtext('fn') or '?'}  {where}")
sys.exit(1 if ours else 0)
PY
