# bench: build and install the tree's module, then run the benchmark suite.
#   bash scripts/dev.sh bench [--quick] [--rounds N] [--only W1,W5] [--results DIR]
# Sourced by scripts/dev.sh with the task name shifted off. Prints the table;
# a full run (neither --quick nor --only) also writes
# benchmarks/results/table.md and export_scaling.png.
# The benchmark measures the pemrik of the python that runs it, so another
# build (such as a baseline in a second worktree) is measured by running it
# with its environment's python from this tree:
#   /path/to/other/.venv-3.13/bin/python benchmarks/run.py --quick
setup_venv bench
install_module
exec "$venv/bin/python" "$root/benchmarks/run.py" "$@"
