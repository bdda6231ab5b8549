"""pemrik against what users would write instead: times, ratios and targets.

    python benchmarks/run.py [--quick] [--rounds N] [--only W1,W5] [--results DIR]

Measures the pemrik that this interpreter imports: `bash scripts/dev.sh bench`
builds the tree's own, and any other build is measured by running this file
with the python of its environment (for instance
/work/base/.venv-3.13-base/bin/python benchmarks/run.py --quick).

Every workload runs in this one process; contenders are sampled in turns
(the first of each round rotating) and each time shown is the median of the
rounds. The headline of each call is its first on fresh objects: each sample
is made outside the timer from requests never rendered nor exported, as a
user renders a request once and exports a collection once; calls repeated on
the same objects are the rows marked (repeat). Before timing, every text is
compared once with the oracle of tests/support/oracles.py, so that every ratio
compares equal work; a difference is reported loudly.

Prints the table with the targets. A full run (neither --quick nor --only)
also rewrites the report, README.md beside this file (dated, without the
targets), and results/export_scaling.png; --results DIR writes the plot into
DIR and the report beside DIR, for any run. The exit status is 0 whatever
the numbers are.
"""

import argparse
import gc
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

try:
    import pemrik
    from pemrik import Pemrik, PemrikCollection
except ImportError as error:  # nothing to measure without the module itself
    sys.exit(f"pemrik cannot be imported ({error}); build it first: bash scripts/dev.sh bench")

import importtime
import measure
import pure
import report
import workload
from measure import Timed, medians, run_rounds
from report import Row, duration, size, verdict

from support import oracles  # on the path that workload gives

W1_SIZE = 10_000
W2_BATCH = 1_000  # fresh requests rendered once each per sample
W5_SIZE = 100_000
W6_SIZES = (1_000, 10_000, 100_000)

export = PemrikCollection.export_collection


class Settings:
    """Rounds per workload. Many short interleaved rounds give steadier medians
    on a busy machine than a few long ones."""

    def __init__(self, quick, rounds=None):
        self.quick = quick
        self.micro_rounds = 41 if quick else 101  # W2 batches, W3 timeit batches
        self.micro_batch = 0.0005  # seconds per W3 batch
        self.rounds = rounds or (21 if quick else 51)  # W1, W4, W6 up to 10k, W8
        self.reference_samples = 5 if quick else 11  # R1..R3 there take up to 0.1 s each
        self.large_rounds = 5 if quick else 11  # W6 at 100k: pemrik and F
        self.large_reference_samples = 1 if quick else 3  # R1..R3 at 100k take seconds each
        self.peak_children = 3  # W8: fresh processes per peak measurement
        self.import_rounds = 21 if quick else 61  # W7: fresh interpreters per contender

    def describe(self):
        return (
            f"{'--quick' if self.quick else 'full'}: medians of {self.micro_rounds} samples "
            f"(W2, W3), {self.rounds} rounds (W1, W4, W6 up to 10k, W8; R1..R3 "
            f"{self.reference_samples}), {self.large_rounds} rounds at 100k (R1..R3 "
            f"{self.large_reference_samples}), {self.peak_children} processes per peak (W8), "
            f"{self.import_rounds} interpreters per module (W7)"
        )


class Checks:
    """Equal-work checks: each contender must give the oracle's text exactly."""

    def __init__(self):
        self.failed = []
        self.compared = 0

    def same(self, what, expected, actual):
        self.compared += 1
        if isinstance(actual, bytes):
            actual = actual.decode("utf-8")
        if expected == actual:
            return True
        at = next(
            (i for i, (a, b) in enumerate(zip(expected, actual, strict=False)) if a != b),
            min(len(expected), len(actual)),
        )
        self.failed.append(what)
        bar = "!" * 78
        print(
            f"\n{bar}\nMISMATCH: {what} differs from the oracle's text, so its time is not "
            f"comparable.\nfirst difference at character {at} (lengths {len(expected)} and "
            f"{len(actual)}):\n    oracle: {expected[max(0, at - 40) : at + 40]!r}\n"
            f"    this:   {actual[max(0, at - 40) : at + 40]!r}\n{bar}\n",
            file=sys.stderr,
            flush=True,
        )
        return False


def progress(text):
    print(f"[bench] {text}", file=sys.stderr, flush=True)


def judged(value, at_least=None, at_most=None, equal=True):
    """(target, result) cells: the target and whether it is met."""
    target = f">= {at_least}x" if at_least is not None else f"<= {at_most}x"
    return target, verdict(value, at_least, at_most) if equal else "MISMATCH"


def against(rows, name, label, seconds, mine, at_least=None, equal=True):
    """The row of a reference: how many times faster pemrik's call is."""
    ratio = seconds / mine
    target, result = "", "" if equal else "MISMATCH"
    if at_least is not None:
        target, result = judged(ratio, at_least=at_least, equal=equal)
    rows.append(Row(name, label, duration(seconds), f"{ratio:.2f}x faster", target, result))


# ---- W1 export ---------------------------------------------------------------

LABELS = {
    "pemrik": "pemrik export_collection(), first call",
    "R1": "R1: dicts + json.dumps",
    "R2": "R2: dicts + orjson",
    "R3": "R3: orjson of built dicts",
    "F": "F: out.encode()",
}


def export_contenders(n, checks, label, reference_limit, repeat=False):
    """Contenders exporting n requests, their texts checked against the oracle.

    pemrik exports a collection made just before each sample from requests
    never rendered; with repeat, also one collection exported again and again.
    The checking call of each contender is also its first sample.
    """
    plain = workload.plain_requests(n)
    expected = oracles.export_text(plain)
    args = workload.arguments(n)
    first = Timed("pemrik", export, prepare=lambda: workload.fresh_collection(args))
    out = first.sample(keep=True)
    contenders = [first]
    equal = {"pemrik": checks.same(f"{label} pemrik export", expected, out)}

    def contender(key, what, timed):
        equal[key] = checks.same(f"{label} {key} ({what})", expected, timed.sample(keep=True))
        contenders.append(timed)

    if repeat:
        again = workload.fresh_collection(args)
        export(again)
        contender("repeat", "pemrik export repeated", Timed("repeat", again.export_collection))
    limit = reference_limit
    contender("R1", "dicts + json.dumps", Timed("R1", lambda: pure.export_json(plain), limit=limit))
    orjson_exports = pure.make_orjson_exports()
    if orjson_exports:
        export_orjson, serialise_orjson = orjson_exports
        document = pure.build_document(plain)
        contender("R2", "dicts + orjson", Timed("R2", lambda: export_orjson(plain), limit=limit))
        contender(
            "R3",
            "orjson, dicts built",
            Timed("R3", lambda: serialise_orjson(document), limit=limit),
        )
    # The copy floor: one conversion of a fresh str equal to the output into
    # bytes (ASCII: one allocation and one copy of the bytes the export writes).
    data = out.encode()
    contenders.append(Timed("F", str.encode, prepare=data.decode))
    return contenders, equal, len(data)


def w1(settings, rows, notes, checks, scaling):
    name = f"W1 export {W1_SIZE // 1000}k"
    contenders, equal, out_len = export_contenders(
        W1_SIZE, checks, "W1", settings.reference_samples, repeat=True
    )
    t = medians(run_rounds(contenders, settings.rounds))
    p = t["pemrik"]
    mismatch = "" if equal["pemrik"] else "MISMATCH"
    rows.append(Row(name, LABELS["pemrik"], duration(p), "1.00", "", mismatch))
    against(rows, name, "R1: dicts + json.dumps(sort_keys)", t["R1"], p, 40, equal["R1"])
    if "R2" in t:
        against(rows, name, "(info) R2: dicts + orjson.dumps", t["R2"], p, equal=equal["R2"])
        against(rows, name, "(info) R3: orjson.dumps of built dicts", t["R3"], p, equal=equal["R3"])
    else:
        rows.append(Row(name, "(info) R2, R3: orjson", "unavailable", "", "", "orjson missing"))
    floor = p / t["F"]
    _, result = judged(floor, at_most=4, equal=equal["pemrik"])
    rows.append(
        Row(
            name,
            f"F: out.encode() ({size(out_len)})",
            duration(t["F"]),
            f"pemrik takes {floor:.2f}x F",
            "<= 4x F",
            result,
        )
    )
    ratio = t["R1"] / t["repeat"]
    target, result = judged(ratio, at_least=15, equal=equal["repeat"] and equal["R1"])
    rows.append(
        Row(
            name,
            "pemrik export_collection() (repeat)",
            duration(t["repeat"]),
            f"{ratio:.2f}x faster than R1",
            target,
            result,
        )
    )
    notes.append(
        "W1, W6: F is one out.encode() per sample of a fresh str equal to the output (ASCII, so "
        "one allocation and one copy of the bytes the export writes into its str)."
    )


# ---- W2 render -----------------------------------------------------------------


def render_all(requests):
    for request in requests:
        request.get_request_command()


def w2(settings, rows, notes, checks, scaling):
    name = "W2 render"
    plain = workload.plain_requests(W1_SIZE)
    args = workload.arguments(W1_SIZE)
    # Every request of W1 once, so the check covers every method and both body states.
    expected = "\n".join(oracles.curl_line(*fields) for fields in plain)
    equal = checks.same(
        "W2 pemrik command lines of all W1 requests",
        expected,
        "\n".join(Pemrik(*a).get_request_command() for a in args),
    )
    equal_pure = checks.same(
        "W2 pure-Python command lines of all W1 requests",
        expected,
        "\n".join(pure.PyRequest(*a).get_request_command() for a in args),
    )
    batch = args[:W2_BATCH]
    rendered = [Pemrik(*a) for a in batch]
    render_all(rendered)
    equal_repeat = checks.same(
        "W2 pemrik command lines rendered again",
        "\n".join(oracles.curl_line(*fields) for fields in plain[:W2_BATCH]),
        "\n".join(r.get_request_command() for r in rendered),
    )
    n = len(batch)
    contenders = [
        Timed("pemrik", render_all, prepare=lambda: [Pemrik(*a) for a in batch], per=n),
        Timed("pure", render_all, prepare=lambda: [pure.PyRequest(*a) for a in batch], per=n),
        Timed("repeat", lambda: render_all(rendered), per=n),
    ]
    t = medians(run_rounds(contenders, settings.micro_rounds))
    p = t["pemrik"]
    rows.append(
        Row(
            name,
            "pemrik get_request_command(), first call",
            duration(p),
            "1.00",
            "",
            "" if equal else "MISMATCH",
        )
    )
    against(rows, name, "pure-Python function (same text)", t["pure"], p, 15, equal and equal_pure)
    ratio = t["pure"] / t["repeat"]
    target, result = judged(ratio, at_least=5, equal=equal_repeat and equal_pure)
    rows.append(
        Row(
            name,
            "pemrik get_request_command() (repeat)",
            duration(t["repeat"]),
            f"{ratio:.2f}x faster than pure",
            target,
            result,
        )
    )
    notes.append(
        f"W2: each sample renders {n:,} requests once each (the first {n:,} of W1: every method, "
        f"half with a body), made just before; the time shown is per request. The repeat renders "
        "the same requests again and again, as does the pure-Python function, which keeps nothing."
    )


# ---- W3 construct ------------------------------------------------------------


def w3(settings, rows, notes, checks, scaling):
    name = "W3 construct"
    url, headers, method, body = workload.pemrik_args(workload.sample_fields())
    namespace = {
        "Pemrik": Pemrik,
        "PyRequest": pure.PyRequest,
        "url": url,
        "headers": headers,
        "method": method,
        "body": body,
    }
    contenders = [
        Timed("pemrik", stmt="Pemrik(url, headers, method, body)", namespace=namespace),
        Timed("pure", stmt="PyRequest(url, headers, method, body)", namespace=namespace),
    ]
    t = medians(run_rounds(contenders, settings.micro_rounds, settings.micro_batch))
    rows.append(Row(name, "Pemrik(url, headers, method, body)", duration(t["pemrik"]), "1.00"))
    against(rows, name, "pure-Python class with __slots__", t["pure"], t["pemrik"], 4)


# ---- W4 read back ------------------------------------------------------------


def w4(settings, rows, notes, checks, scaling):
    name = f"W4 read back {W1_SIZE // 1000}k"
    collection = workload.pemrik_collection(W1_SIZE)
    py_collection = pure.PyCollection()
    for fields in workload.iter_fields(W1_SIZE):
        py_collection.add_request(pure.PyRequest(*workload.pemrik_args(fields)))
    expected = "\n".join(oracles.curl_line(*f) for f in workload.plain_requests(W1_SIZE))
    equal = checks.same(
        "W4 requests read back from pemrik's collection",
        expected,
        "\n".join(r.get_request_command() for r in collection.get_collection()),
    )
    equal &= checks.same(
        "W4 requests read back by the pure-Python collection",
        expected,
        "\n".join(r.get_request_command() for r in py_collection.get_collection()),
    )
    contenders = [
        Timed("pemrik", collection.get_collection),
        Timed("pure", py_collection.get_collection),
        Timed("copies", py_collection.copies),
    ]
    t = medians(run_rounds(contenders, settings.rounds))
    p = t["pemrik"]
    rows.append(Row(name, "pemrik get_collection()", duration(p), "1.00"))
    against(rows, name, "pure-Python objects via the class", t["pure"], p, 3, equal)
    against(rows, name, "(info) pure-Python copies, checks skipped", t["copies"], p)


# ---- W5 memory ---------------------------------------------------------------


def held_per_request(build, n):
    """RSS growth per request while build(n) makes a collection, and the collection."""
    measure.settle()
    before, malloc_before = measure.rss(), measure.malloc_in_use()
    collection = build(n)
    measure.settle()
    after, malloc_after = measure.rss(), measure.malloc_in_use()
    malloc = None if malloc_before is None else (malloc_after - malloc_before) / n
    return (after - before) / n, malloc, collection


def build_pure(n, own_texts=False):
    collection = pure.PyCollection()
    add = collection.add_request
    for url, headers, m, body in workload.iter_fields(n):
        if own_texts:  # as if read from a file: no str shared between requests
            url = url.encode().decode()
            headers = [(k.encode().decode(), v.encode().decode()) for k, v in headers]
            body = body if body is None else body.encode().decode()
        add(pure.PyRequest(url, headers, workload.METHODS[m], body))
    return collection


def w5(settings, rows, notes, checks, scaling):
    name = f"W5 memory {W5_SIZE // 1000}k"
    if measure.rss() is None:
        rows.append(Row(name, "all", "unavailable", "", "", "no /proc/self/statm"))
        return
    n = W5_SIZE
    mine, mine_malloc, collection = held_per_request(workload.pemrik_collection, n)
    text, extra = measure.peak_extra(collection.export_collection)
    out_len = len(text.encode()) if not text.isascii() else len(text)
    del text, collection
    python, _, held = held_per_request(build_pure, n)
    del held
    own, _, held = held_per_request(lambda k: build_pure(k, own_texts=True), n)
    del held
    ref_extra = None
    if not settings.quick:
        plain = workload.plain_requests(n)
        ref_text, ref_extra = measure.peak_extra(lambda: pure.export_json(plain))
        ref_len = len(ref_text)
        del ref_text, plain
        measure.settle()

    ratio = mine / python
    target, result = judged(ratio, at_most=0.5)
    rows.append(
        Row(
            name,
            "pemrik PemrikCollection",
            f"{mine:.0f} B/request",
            f"{ratio:.2f}x Python's",
            target,
            result,
        )
    )
    rows.append(Row(name, "pure-Python objects (constants shared)", f"{python:.0f} B/request"))
    rows.append(
        Row(
            name,
            "(info) pure-Python, every text its own str",
            f"{own:.0f} B/request",
            f"pemrik {mine / own:.2f}x this",
        )
    )
    payload = (
        sum(
            len(url.encode())
            + sum(len(k.encode()) + len(v.encode()) for k, v in headers)
            + (len(body.encode()) if body is not None else 0)
            for url, headers, _, body in workload.iter_fields(n)
        )
        / n
    )
    rows.append(
        Row(
            name,
            "(info) the texts' own UTF-8 bytes",
            f"{payload:.0f} B/request",
            f"{payload / python:.2f}x Python's",
        )
    )
    if extra is None:
        rows.append(
            Row(
                name,
                "pemrik export peak extra",
                "unavailable",
                "",
                "<= 1.2x output",
                "RSS peak cannot be reset",
            )
        )
    else:
        target, result = judged(extra / out_len, at_most=1.2)
        rows.append(
            Row(
                name,
                f"pemrik export peak extra ({size(out_len)} output)",
                size(extra),
                f"{extra / out_len:.2f}x output",
                target + " output",
                result,
            )
        )
        if ref_extra is not None:
            rows.append(
                Row(
                    name,
                    "(info) R1 export peak extra",
                    size(ref_extra),
                    f"{ref_extra / ref_len:.2f}x output",
                )
            )
    notes.append(
        "W5: bytes per request are the growth of the resident set size (/proc/self/statm) while "
        f"{n:,} requests are made and stored, after gc.collect() and malloc_trim(0) on both sides, "
        "divided by the count; the request texts are made fresh for each request in both cases. "
        "'Constants shared' is the natural Python form: equal literals (header names, 'application/json', "
        "the one session token) are one str object each; pemrik copies every text into each record."
        + (
            f" The C allocator's own count for pemrik (mallinfo2) is {mine_malloc:.0f} B/request."
            if mine_malloc is not None
            else ""
        )
    )
    notes.append(
        "W5: peak extra memory is the kernel's RSS high-water mark (VmHWM, reset through "
        "/proc/self/clear_refs just before the call) minus the RSS before the call; it includes "
        "the returned str itself, so 1.00x means no memory beyond the output."
    )


# ---- W6 scaling --------------------------------------------------------------


def w6(settings, rows, notes, checks, scaling):
    name = "W6 scaling"
    times, equal, faults = {}, {}, {}
    for n in W6_SIZES:
        progress(f"W6 at {n:,} requests")
        large = n >= 100_000
        contenders, same, out_len = export_contenders(
            n,
            checks,
            f"W6 {n:,}",
            settings.large_reference_samples if large else settings.reference_samples,
        )
        rounds = settings.large_rounds if large else settings.rounds
        for key, timed in run_rounds(contenders, rounds).items():
            times.setdefault(key, []).append((n, timed.median))
            if key in ("pemrik", "F"):
                faults.setdefault(key, []).append((n, statistics.median(timed.faults), out_len))
        for key, ok in same.items():
            equal[key] = equal.get(key, True) and ok
        del contenders
        gc.collect()
    for key, points in times.items():
        by_size = dict(points)
        growth = by_size[100_000] / by_size[10_000]
        value = " · ".join(f"{n // 1000}k {duration(t)}" for n, t in points)
        target = result = ""
        if key == "pemrik":
            target, result = judged(growth, at_most=11, equal=equal["pemrik"])
        elif not equal.get(key, True):
            result = "MISMATCH"
        rows.append(Row(name, LABELS[key], value, f"100k/10k = {growth:.2f}x", target, result))
        scaling[LABELS[key]] = points
    per_size = []
    for (n, mine_faults, out_len), (_, floor_faults, _) in zip(
        faults["pemrik"], faults["F"], strict=False
    ):
        ratio = dict(times["pemrik"])[n] / dict(times["F"])[n]
        per_size.append(
            f"{n // 1000}k: output {size(out_len)}, pemrik {ratio:.2f}x F, minor page faults "
            f"per call {mine_faults:.0f} (pemrik) and {floor_faults:.0f} (F)"
        )
    notes.append(
        "W6: " + "; ".join(per_size) + ". A page fault per 4 kB of output means the output str "
        "was fresh memory from the kernel on every call."
    )


# ---- W7 import time ----------------------------------------------------------


def w7(settings, rows, notes, checks, scaling):
    name = "W7 import"
    t = importtime.measure(settings.import_rounds)
    ratio = t["pemrik"] / t["_json"]
    target, result = judged(ratio, at_most=1.5)
    rows.append(
        Row(
            name,
            "import pemrik (self time)",
            duration(t["pemrik"]),
            f"{ratio:.2f}x _json",
            target,
            result,
        )
    )
    rows.append(Row(name, "import _json (self time)", duration(t["_json"]), "1.00"))
    notes.append(
        f"W7: self time of the import from `python -X importtime`, each sample a fresh interpreter "
        f"importing one module, the two in turns; medians of {settings.import_rounds} each. _json is "
        "the standard library's C accelerator of json, an extension module loaded the same way."
    )


# ---- W8 non-ASCII export -----------------------------------------------------

# The peak of one first export, in a process of its own: prints the bytes by
# which the RSS high-water mark rose during the call, and the output str's size.
PEAK_CHILD = """
import sys
sys.path.insert(0, sys.argv[1])
import measure, workload
args = workload.arguments(int(sys.argv[2]), accent=sys.argv[3] == "accent")
collection = workload.fresh_collection(args)
text, extra = measure.peak_extra(collection.export_collection)
print(extra, sys.getsizeof(text))
"""


def peak_in_child(n, kind, children):
    """Median peak extra bytes of a first export of n requests, and the output's size.

    Peak memory is the RSS high-water mark of a fresh child process, not
    tracemalloc: tracemalloc sees only the interpreter's allocators, while the
    module may take memory with malloc or operator new, which the RSS counts as
    soon as it is written. A fresh process, trimmed just before the call
    (measure.settle), holds little freed memory that the call could reuse
    unseen, so the high-water mark's rise is what the call took.
    """
    extras, out_size = [], None
    for _ in range(children):
        done = subprocess.run(
            [sys.executable, "-c", PEAK_CHILD, HERE, str(n), kind],
            capture_output=True,
            text=True,
            check=True,
        )
        extra, out_size = done.stdout.split()
        if extra == "None":
            return None, None
        extras.append(int(extra))
    return statistics.median(extras), int(out_size)


def w8(settings, rows, notes, checks, scaling):
    name = f"W8 non-ASCII {W1_SIZE // 1000}k"
    plain = workload.plain_requests(W1_SIZE, accent=True)
    accent_args = workload.arguments(W1_SIZE, accent=True)
    ascii_args = workload.arguments(W1_SIZE)
    accent = Timed("accent", export, prepare=lambda: workload.fresh_collection(accent_args))
    equal = checks.same(
        "W8 pemrik export with an é in each body",
        oracles.export_text(plain),
        accent.sample(keep=True),
    )
    contenders = [
        accent,
        Timed("ascii", export, prepare=lambda: workload.fresh_collection(ascii_args)),
    ]
    t = medians(run_rounds(contenders, settings.rounds))
    ratio = t["accent"] / t["ascii"]
    target, result = judged(ratio, at_most=1.5, equal=equal)
    rows.append(
        Row(
            name,
            "pemrik first export, an é in each body",
            duration(t["accent"]),
            f"{ratio:.2f}x the ASCII export",
            target,
            result,
        )
    )
    rows.append(
        Row(name, "(info) pemrik first export, ASCII (as W1)", duration(t["ascii"]), "1.00")
    )
    for kind, label in (
        ("accent", "pemrik export peak extra, é"),
        ("ascii", "(info) the same, ASCII"),
    ):
        extra, out_size = peak_in_child(W1_SIZE, kind, settings.peak_children)
        if extra is None:
            rows.append(Row(name, label, "unavailable", "", "", "RSS peak cannot be reset"))
            continue
        ratio = extra / out_size
        target, result = judged(ratio, at_most=1.2, equal=equal)
        if kind == "ascii":
            target = result = ""
        rows.append(
            Row(
                name,
                f"{label} ({size(out_size)} str)",
                size(extra),
                f"{ratio:.2f}x output",
                target and target + " output",
                result,
            )
        )
    notes.append(
        "W8: the bodies of W1 (every other request) each with one é, so the output is not ASCII "
        "(a str of one byte per character, as é needs no more). Peak extra memory is the rise of the RSS high-water "
        "mark (VmHWM) during one first export, in a fresh process made for it (median of "
        f"{settings.peak_children}), over the returned str's own size (sys.getsizeof), which it "
        "includes: 1.00x means no memory beyond the output. The RSS counts what the module takes "
        "with malloc or operator new as well as through the interpreter's allocators; tracemalloc "
        "would see only the latter."
    )


WORKLOADS = {"W1": w1, "W2": w2, "W3": w3, "W4": w4, "W5": w5, "W6": w6, "W7": w7, "W8": w8}
ORDER = tuple(WORKLOADS)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--quick", action="store_true", help="fewer rounds and shorter batches (under a minute)"
    )
    parser.add_argument(
        "--rounds", type=int, help="rounds of the per-call workloads (default 21 quick, 51 full)"
    )
    parser.add_argument("--only", help="comma-separated workloads, e.g. W1,W5")
    parser.add_argument(
        "--results",
        help="write the plot into this folder and the report beside it (a full run: "
        "benchmarks/results and benchmarks/README.md)",
    )
    args = parser.parse_args(argv)
    chosen = [w.strip().upper() for w in args.only.split(",")] if args.only else list(ORDER)
    unknown = [w for w in chosen if w not in WORKLOADS]
    if unknown:
        parser.error(f"unknown workloads: {', '.join(unknown)}")
    results = args.results
    if results is None and not (args.quick or args.only):
        results = os.path.join(HERE, "results")

    settings = Settings(args.quick, args.rounds)
    info = report.machine(ROOT, pemrik.__file__)
    progress(f"measuring {info['module']}")
    rows, notes, checks, scaling = [], [], Checks(), {}
    started = time.perf_counter()
    # Memory first, while the process heap is still small and unfragmented.
    for key in sorted(chosen, key=lambda w: (w != "W5", ORDER.index(w))):
        began = time.perf_counter()
        WORKLOADS[key](settings, rows, notes, checks, scaling)
        gc.collect()
        progress(f"{key} done in {time.perf_counter() - began:.1f} s")
    rows.sort(key=lambda r: ORDER.index(r.workload[:2]))
    notes.sort(key=lambda n: n[:2])
    elapsed = time.perf_counter() - started

    mode = f"{settings.describe()}; {elapsed:.0f} s"
    if args.only:
        mode += f"; only {', '.join(chosen)}"
    notes.insert(
        0,
        "Times are CPU time of the benchmarking thread (user plus system, so page faults count; "
        "time other processes hold the core does not), medians of rounds in which the "
        "contenders take turns; the collector is off during each timed call (as in timeit); "
        "ratios compare times measured in this one run. A first call is timed on objects made "
        "just before each sample, outside the timer, and never rendered nor exported; (repeat) "
        "rows call again on the same objects. W3 is timed in batches and divided.",
    )
    if checks.failed:
        notes.insert(
            0,
            "MISMATCH: " + "; ".join(checks.failed) + " — those ratios do not compare equal work.",
        )
    elif checks.compared:
        notes.insert(
            0,
            "Every contender produced exactly the text of the oracle in "
            "tests/support/oracles.py (checked once per run, per size).",
        )

    plot_name = None
    if results is not None:
        os.makedirs(results, exist_ok=True)
        if scaling:
            plot_path = os.path.join(results, "export_scaling.png")
            title = f"Collection export, {info['cpu']}, {info['python']}"
            if report.plot(scaling, plot_path, title):
                plot_name = os.path.basename(plot_path)
            else:
                notes.append("The plot was not drawn: matplotlib is unavailable.")
    print(report.table(rows))
    print("\n".join(f"- {n}" for n in notes))
    if results is not None:
        target = os.path.join(os.path.dirname(results), "README.md")
        with open(target, "w", encoding="utf-8") as f:
            f.write(report.markdown(info, mode, rows, notes, plot_name))
        print(
            f"written: {os.path.relpath(target)}"
            + (f", {os.path.relpath(os.path.join(results, plot_name))}" if plot_name else "")
        )
    else:
        print("not written (--quick or --only): a full run rewrites benchmarks/README.md")
    if checks.failed:
        print("\nMISMATCH in " + "; ".join(checks.failed), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
