# bench: build, install and run the benchmark suite.
#   bash scripts/dev.sh bench [--quick] [--rounds N] [--only W1,W5]
# Sourced by scripts/dev.sh with the task name shifted off; prints the table
# and writes benchmarks/results/table.md and export_scaling.png.
setup_venv bench
install_module
exec "$venv/bin/python" "$root/benchmarks/run.py" "$@"
