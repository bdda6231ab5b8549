"""The results table (console and markdown), the machine description and the plot."""

import datetime
import os
import platform
import subprocess
from dataclasses import dataclass


@dataclass
class Row:
    workload: str
    contender: str
    value: str = ""
    ratio: str = ""
    target: str = ""
    result: str = ""


def duration(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def size(n_bytes):
    for unit, scale in (("GB", 1 << 30), ("MB", 1 << 20), ("kB", 1 << 10)):
        if abs(n_bytes) >= scale:
            return f"{n_bytes / scale:.3g} {unit}"
    return f"{n_bytes:.0f} B"


def verdict(value, at_least=None, at_most=None):
    ok = (at_least is None or value >= at_least) and (at_most is None or value <= at_most)
    return "met" if ok else "NOT MET"


def table(rows, targets=True):
    """The rows as a markdown table; with targets, the target and whether it is met too."""
    header = Row("workload", "contender", "measured (median)", "ratio", "target", "result")
    columns = 6 if targets else 4
    cells = [
        [r.workload, r.contender, r.value, r.ratio, r.target, r.result][:columns]
        for r in [header, *rows]
    ]
    widths = [max(len(c[i]) for c in cells) for i in range(columns)]
    lines = []
    for k, c in enumerate(cells):
        lines.append("| " + " | ".join(t.ljust(w) for t, w in zip(c, widths, strict=False)) + " |")
        if k == 0:
            lines.append("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return "\n".join(lines)


def _cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def _revision(root):
    try:
        head = subprocess.run(
            ["git", "-C", root, "rev-parse", "--short", "HEAD"],
            capture_output=True,
            text=True,
            timeout=10,
        ).stdout.strip()
        dirty = subprocess.run(
            ["git", "-C", root, "status", "--porcelain", "--", "src"],
            capture_output=True,
            text=True,
            timeout=10,
        ).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        return "unknown"
    return (head or "unknown") + (" with uncommitted changes in src/" if dirty else "")


def _tree_of(path):
    """The git work tree holding path (a build inside its own virtual environment), or None."""
    folder = os.path.dirname(os.path.realpath(path))
    while folder != os.path.dirname(folder):
        if os.path.exists(os.path.join(folder, ".git")):
            return folder
        folder = os.path.dirname(folder)
    return None


def module_origin(module_file):
    """Which pemrik is measured: its file, and the tree and revision it was built in."""
    tree = _tree_of(module_file)
    built = f"{tree}, revision {_revision(tree)}" if tree else "outside any git tree"
    return f"{module_file} (built in {built})"


def machine(root, module_file):
    usable = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
    load = ", ".join(f"{x:.2f}" for x in os.getloadavg()) if hasattr(os, "getloadavg") else "n/a"
    return {
        "date": datetime.datetime.now(datetime.UTC).strftime("%Y-%m-%d %H:%M UTC"),
        "cpu": _cpu_model(),
        "cores": f"{os.cpu_count()} ({usable} usable)",
        "python": f"{platform.python_implementation()} {platform.python_version()}",
        "system": platform.platform(),
        "module": module_origin(module_file),
        "benchmark": f"{root}, revision {_revision(root)}",
        "load": load,
    }


INTRO = """# pemrik's benchmarks

pemrik against what a Python user would write instead, each call's first use
on fresh objects as the headline (repeated calls on the same objects are the
rows marked "repeat"). Every workload runs in one process, contenders taking
turns; times are medians of CPU time, and every contender's text is checked
once against the oracle of tests/support/oracles.py, so that each ratio
compares equal work.

    bash scripts/dev.sh bench                 # this report, rewritten (a few minutes)
    bash scripts/dev.sh bench --quick         # the table printed, nothing written
    bash scripts/dev.sh bench --instructions  # callgrind's count of the hot calls
    OTHER/.venv-3.13/bin/python benchmarks/run.py --quick   # another build of pemrik

W1 exports 10,000 requests (three headers, every other with a JSON body); R1
is the same document as dicts and json.dumps(sort_keys=True), R2 and R3
orjson; F is one copy of the output. W2 renders command lines, W3 constructs
requests, W4 reads 10,000 requests back, W5 measures memory, W6 export time
at 1k/10k/100k requests, W7 the import, W8 the W1 export with an é in each
body.
"""


def markdown(info, mode, rows, notes, plot_name):
    lines = [
        INTRO,
        "## The last full run",
        "",
        f"- date: {info['date']}",
        f"- machine: {info['cpu']}, {info['cores']} cores, {info['system']}",
        f"- Python: {info['python']}",
        f"- pemrik: {info['module']}",
        f"- benchmark: {info['benchmark']}",
        f"- run: {mode}; load average at start {info['load']}",
        "",
        table(rows, targets=False),
        "",
    ]
    if notes:
        lines += ["Notes:", ""] + [f"- {n}" for n in notes] + [""]
    if plot_name:
        lines += [f"![export time against collection size](results/{plot_name})", ""]
    return "\n".join(lines)


def plot(scaling, path, title):
    """Log-log plot of export time against size; False when matplotlib is missing."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    fig, ax = plt.subplots(figsize=(7, 4.8))
    for name, points in scaling.items():
        xs = [n for n, _ in points]
        ys = [t for _, t in points]
        style = dict(linewidth=2.5, zorder=3) if name.startswith("pemrik") else dict(linewidth=1.3)
        ax.plot(xs, ys, marker="o", label=name, **style)
    mine = next((points for name, points in scaling.items() if name.startswith("pemrik")), None)
    if mine and len(mine) > 1:
        n0, t0 = mine[len(mine) // 2]
        xs = [n for n, _ in mine]
        ax.plot(
            xs,
            [t0 * n / n0 for n in xs],
            linestyle=":",
            color="gray",
            linewidth=1,
            label=f"linear through pemrik at {n0:,}",
        )
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("requests in the collection")
    ax.set_ylabel("export time, s (median CPU time)")
    ax.set_title(title)
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    plt.close(fig)
    return True
