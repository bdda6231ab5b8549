# bench: the benchmark suite (--quick prints only; --instructions counts instructions)
#
# build and install the tree's module, then run the benchmark suite.
#   bash scripts/dev.sh bench [--quick] [--rounds N] [--only W1,W5] [--results DIR]
#   bash scripts/dev.sh bench --instructions [export render construct read]
# Sourced by scripts/dev.sh with the task name shifted off. Prints the table;
# a full run (neither --quick nor --only) also writes
# benchmarks/README.md and results/export_scaling.png. --instructions counts
# the instructions of the hot calls under callgrind instead.
# Both scripts measure the pemrik of the python that runs them, so another
# build (such as a baseline in a second worktree) is measured by running them
# with its environment's python from this tree:
#   /path/to/other/.venv-3.13/bin/python benchmarks/run.py --quick
#   /path/to/other/.venv-3.13/bin/python benchmarks/instructions.py
setup_venv bench
install_module
if [ "${1:-}" = --instructions ]; then
    shift
    need_command valgrind valgrind
    exec "$venv/bin/python" "$root/benchmarks/instructions.py" "$@"
fi
exec "$venv/bin/python" "$root/benchmarks/run.py" "$@"
