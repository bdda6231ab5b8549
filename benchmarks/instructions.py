"""Instructions that pemrik's hot calls execute, counted by callgrind.

    python benchmarks/instructions.py [export] [render] [construct] [read]

Counts the pemrik that this interpreter imports: `bash scripts/dev.sh bench
--instructions` builds the tree's own, and any other build is counted by
running this file with the python of its environment (for instance
/work/base/.venv-3.13-base/bin/python benchmarks/instructions.py).

Each hot call runs in a child interpreter under valgrind --tool=callgrind
twice, once with the calls and once without them, everything else the same
(PYTHONHASHSEED=0, the collector off, no teardown), so that the two runs
differ only by the calls. The count shown is the difference between the two
runs in the instructions executed inside the module's entry points: the
inclusive cost of every call that enters the module's shared object from
outside it (a method, the constructor, a deallocation), summed from
callgrind's output. That leaves out the interpreter's own work, inside the
measured loop as well as around it, and needs no symbols: release builds are
stripped, so --toggle-collect on the module's function names would find
nothing. The difference of the whole process, with the Python loop that
makes the calls, is shown beside it.
"""

import argparse
import gc
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


# ---- the child: one hot call, or only what comes before it -------------------


def setup_export():
    import workload

    return workload.fresh_collection(workload.arguments(10_000))


def setup_render():
    import workload

    from pemrik import Pemrik

    return [Pemrik(*a) for a in workload.arguments(1_000)]


def setup_construct():
    import workload

    from pemrik import Pemrik

    return Pemrik, workload.arguments(1_000)


def construct(state):
    Pemrik, args = state
    return [Pemrik(url, headers, method, body) for url, headers, method, body in args]


# name: (what is counted, setup, the calls on setup's result, calls made, requests per call)
HOT = {
    "export": (
        "first export_collection() of 10k fresh requests",
        setup_export,
        lambda collection: collection.export_collection(),
        1,
        10_000,
    ),
    "render": (
        "first get_request_command() of a fresh request",
        setup_render,
        lambda requests: [r.get_request_command() for r in requests],
        1_000,
        1,
    ),
    "construct": (
        "Pemrik(url, headers, method, body)",
        setup_construct,
        construct,
        1_000,
        1,
    ),
    "read": (
        "get_collection() of 10k",
        setup_export,
        lambda collection: [collection.get_collection() for _ in range(3)],
        3,
        10_000,
    ),
}


def child(name, with_calls):
    gc.disable()
    _, setup, calls, _, _ = HOT[name]
    state = setup()
    if with_calls:
        kept = calls(state)  # kept to the end: its deallocation is not counted
        assert kept is not None
    sys.stdout.flush()
    os._exit(0)  # no teardown, which would deallocate what each run made


# ---- callgrind's output ------------------------------------------------------

_NAMED = re.compile(r"\((\d+)\)(?: (.*))?$")


def read_callgrind(path, module_file):
    """(instructions of the whole run, instructions under calls into module_file).

    The second is the inclusive cost of every call whose caller lies outside
    the module's object and whose callee lies inside it.
    """
    module = os.path.realpath(module_file)
    names = {}  # compressed object names: id -> name

    def obj(text):
        match = _NAMED.match(text)
        if match is None:
            return text
        if match.group(2) is not None:
            names[match.group(1)] = match.group(2)
        return names[match.group(1)]

    total = entered = 0
    positions, ir = 1, 0
    current = callee = None
    in_call = False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if in_call:  # the cost line of a call: position(s), then the inclusive costs
                in_call = False
                fields = line.split()
                if current != module and callee == module and len(fields) > positions + ir:
                    entered += int(fields[positions + ir])
                callee = None
            elif line.startswith("ob="):
                current = os.path.realpath(obj(line[3:].rstrip("\n")))
            elif line.startswith("cob="):
                callee = os.path.realpath(obj(line[4:].rstrip("\n")))
            elif line.startswith("calls="):
                # Without cob= the callee lies in the caller's object.
                callee = callee or current
                in_call = True
            elif line.startswith("positions:"):
                positions = len(line.split()) - 1
            elif line.startswith("events:"):
                ir = line.split()[1:].index("Ir")
            elif line.startswith(("summary:", "totals:")):
                total = int(line.split()[1 + ir])
    return total, entered


def count(name, module_file, workdir):
    """Instructions per call: (in the module, in the whole process)."""
    runs = {}
    for with_calls in (False, True):
        out = os.path.join(workdir, f"{name}-{'with' if with_calls else 'without'}.out")
        done = subprocess.run(
            [
                "valgrind",
                "--tool=callgrind",
                f"--callgrind-out-file={out}",
                sys.executable,
                os.path.abspath(__file__),
                "--child",
                name,
                "with" if with_calls else "without",
            ],
            env={**os.environ, "PYTHONHASHSEED": "0", "PYTHONDONTWRITEBYTECODE": "1"},
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            text=True,
        )
        if done.returncode != 0:
            sys.exit(f"callgrind's run of {name} failed:\n{done.stderr[-3000:]}")
        runs[with_calls] = read_callgrind(out, module_file)
    calls = HOT[name][3]
    (total_without, module_without), (total_with, module_with) = runs[False], runs[True]
    return (module_with - module_without) / calls, (total_with - total_without) / calls


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("calls", nargs="*", help=f"some of {', '.join(HOT)} (all by default)")
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(args.child[0], args.child[1] == "with")
    unknown = [c for c in args.calls if c not in HOT]
    if unknown:
        parser.error(f"unknown hot calls: {', '.join(unknown)}")
    try:
        import pemrik
    except ImportError as error:
        sys.exit(f"pemrik cannot be imported ({error}); build it first: bash scripts/dev.sh bench")
    if shutil.which("valgrind") is None:
        sys.exit("valgrind is missing (apt-get install valgrind)")

    import report

    version = subprocess.run(["valgrind", "--version"], capture_output=True, text=True).stdout
    print(f"pemrik: {report.module_origin(pemrik.__file__)}")
    print(f"Python: {sys.version.split()[0]} ({sys.executable}); {version.strip()}, callgrind")
    print()
    rows = [("hot call", "in the module, per call", "per request", "whole process, per call")]
    with tempfile.TemporaryDirectory(prefix="pemrik-callgrind-") as workdir:
        for name in args.calls or HOT:
            print(f"[instructions] {name} under callgrind", file=sys.stderr, flush=True)
            module, whole = count(name, pemrik.__file__, workdir)
            what, _, _, calls, requests = HOT[name]
            per_request = f"{module / requests:,.0f}" if requests > 1 else ""
            rows.append((what, f"{module:,.0f}", per_request, f"{whole:,.0f}"))
    widths = [max(len(r[i]) for r in rows) for i in range(4)]
    for k, row in enumerate(rows):
        cells = [row[0].ljust(widths[0])]
        cells += [c.rjust(w) for c, w in zip(row[1:], widths[1:], strict=True)]
        print("| " + " | ".join(cells) + " |")
        if k == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    print(
        "\nInstructions (callgrind's Ir): the run with the calls minus the run without them. "
        "'In the module' counts what runs inside calls that enter the module's shared object "
        "(its code and what it calls: allocation, the interpreter's API); 'whole process' adds "
        "the Python loop making the calls. Render and construct are averaged over 1,000 "
        "requests of the benchmark's W1 mix (every method, half with a body); get_collection "
        "over 3 calls."
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
