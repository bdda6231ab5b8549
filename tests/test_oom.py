"""Out of memory: every public operation, and the import, with allocation n refused.

Each sweep runs in a child interpreter into which tests/oom_helper is both
preloaded (its operator new replaces the C++ runtime's, so the module's own
allocations can fail too) and imported (it hooks the interpreter's allocators
and refuses allocations only during the one call into the module). For
start = 0, 1, 2, ... the call runs twice, once with every allocation from
number `start` on refused and once with only that one refused, until it
completes without a refusal. A try must give the correct result or
MemoryError and leave its receiver, its arguments and their reference counts
as they were. A crash is reported with its native stack: with a frame in the
module it is the module's fault, otherwise the interpreter's own (noted as a
warning, and the sweep goes on after the crashing try).
"""

import json
import os
import shutil
import subprocess
import sys
import sysconfig
import warnings
from pathlib import Path

import pytest

HELPER = Path(__file__).parent / "oom_helper" / "oomhelper.cpp"

pytestmark = pytest.mark.skipif(
    bool(os.environ.get("PEMRIK_SANITIZED")),
    reason="replaces operator new, which the sanitizer runtime owns",
)

# Run in the child before the sweeps: the values the table below refers to.
PRELUDE = """
import collections, json, operator, sys
import oomhelper, pemrik
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection
deque = collections.deque
URL = "https://例え.test:8443/api/it'ems?id=7&q=" + "x" * 40
ASCII_URL = "http://127.0.0.1:8080/api/items/" + "y" * 40
HEADERS = [("Accept-" + "a" * 30, 'application/json "$`\\\\ ' * 3), ("X-\\x01-Trace", "é" * 20)]
BODY = '@{"id": 7, "name": "it\\'s here"}' + "\\n\\t" * 10
REQS = [Pemrik(URL, HEADERS, M.POST, BODY), Pemrik(ASCII_URL, [], M.GET),
        Pemrik(ASCII_URL, HEADERS, M.CONNECT, "")]
CUT = Pemrik("no-slash-" * 4, [], M.GET)
SURROGATE = "x\\ud800y" * 8
fresh = PemrikCollection
"""

# name -> expression giving (callable, args, kwargs), evaluated before each try.
SWEEPS = {
    "Pemrik positional": "Pemrik, (URL, HEADERS, M.POST, BODY), None",
    "Pemrik keywords": "Pemrik, (), dict(body=BODY, method=M.DELETE, headers=tuple(HEADERS), url=ASCII_URL)",
    "Pemrik iterated headers": "Pemrik, (URL, deque(HEADERS), M.PATCH), None",
    "PemrikCollection()": "PemrikCollection, (), None",
    "PemrikCollection(list)": "PemrikCollection, (REQS,), None",
    "PemrikCollection(collection=deque)": "PemrikCollection, (), dict(collection=deque(REQS))",
    "add_request to absent list": "fresh().add_request, (REQS[0],), None",
    "add_request(pemrik=) to present list": "fresh(REQS).add_request, (), dict(pemrik=REQS[2])",
    "get_collection": "fresh(REQS).get_collection, (), None",
    "get_collection absent": "fresh().get_collection, (), None",
    "export_collection": "fresh(REQS).export_collection, (), None",
    "export_collection refusing a url": "fresh(REQS + [CUT]).export_collection, (), None",
    "get_request_command non-ASCII": "REQS[0].get_request_command, (), None",
    "get_request_command ASCII": "REQS[1].get_request_command, (), None",
    "repr(HTTPMETHOD)": "repr, (M.OPTIONS,), None",
    "int(HTTPMETHOD)": "int, (M.CONNECT,), None",
    "HTTPMETHOD ==": "operator.eq, (M.GET, M.GET), None",
    "HTTPMETHOD != int": "operator.ne, (M.GET, 0), None",
    "HTTPMETHOD <": "operator.lt, (M.GET, M.POST), None",
    "HTTPMETHOD()": "M, ('GET',), None",
    "too many positional": "Pemrik, (URL, HEADERS, M.GET, BODY, 5), None",
    "missing required": "Pemrik, (URL,), None",
    "multiple values": "Pemrik, (URL, HEADERS, M.GET), dict(url=URL)",
    "unexpected keyword with lone surrogate": "Pemrik, (URL, HEADERS, M.GET), {SURROGATE: 1}",
    "PemrikCollection too many": "PemrikCollection, (REQS, REQS), None",
    "add_request two arguments": "fresh().add_request, (REQS[0], REQS[1]), None",
    "add_request unexpected keyword": "fresh().add_request, (), dict(request=REQS[0])",
    "url not str": "Pemrik, (5, HEADERS, M.GET), None",
    "url lone surrogate": "Pemrik, (SURROGATE, HEADERS, M.GET), None",
    "headers str": "Pemrik, (URL, 'x', M.GET), None",
    "headers dict": "Pemrik, (URL, {}, M.GET), None",
    "header list": "Pemrik, (URL, [['a', 'b']], M.GET), None",
    "header of three": "Pemrik, (URL, [('a', 'b', 'c')], M.GET), None",
    "header value int": "Pemrik, (URL, HEADERS + [('a', 1)], M.GET), None",
    "method str": "Pemrik, (URL, HEADERS, 'GET'), None",
    "body int": "Pemrik, (URL, HEADERS, M.GET, 5), None",
    "collection str": "PemrikCollection, ('abc',), None",
    "collection item int": "PemrikCollection, (REQS + [1],), None",
    "add_request str": "fresh(REQS).add_request, ('x',), None",
}

SWEEP = PRELUDE + """
def observe(x):
    # What a script can see of x, recursively.
    if isinstance(x, Pemrik):
        return ["Pemrik", x.get_request_command()]
    if isinstance(x, PemrikCollection):
        got = x.get_collection()
        try:
            text = x.export_collection()
        except ValueError as e:
            text = str(e)
        return ["PemrikCollection", got and [r.get_request_command() for r in got], text]
    if isinstance(x, BaseException):
        return [type(x).__name__, str(x), x.__cause__ and observe(x.__cause__)]
    if isinstance(x, (list, tuple, deque)):
        return [type(x).__name__, [observe(i) for i in x]]
    if isinstance(x, dict):
        return ["dict", [[observe(k), observe(v)] for k, v in x.items()]]
    return [type(x).__name__, repr(x)]

def leaves(x, out):
    out.append(x)
    if isinstance(x, dict):
        x = [*x.keys(), *x.values()]
    if isinstance(x, (list, tuple, deque)):
        for i in x:
            leaves(i, out)
    return out

STATIC = [Pemrik, PemrikCollection, M, *(getattr(M, n) for n in "GET POST CONNECT".split())]

def attempt(sticky, start):
    func, args, kwargs = eval(EXPR)
    receiver = getattr(func, "__self__", None)
    if not isinstance(receiver, (Pemrik, PemrikCollection)):
        receiver = None
    tracked = leaves((args, kwargs), list(STATIC))
    counts = [sys.getrefcount(o) for o in tracked]
    before = [observe(receiver), observe(args), observe(kwargs)]
    completed, value, allocations, refused = oomhelper.call(sticky, start, func, args, kwargs)
    outcome = observe(value)
    del value
    now = [sys.getrefcount(o) for o in tracked]
    return dict(outcome=outcome, refused=refused, allocations=allocations, before=before,
                after=[observe(receiver), observe(args), observe(kwargs)],
                leaked=[repr(tracked[i])[:60] for i in range(len(now)) if now[i] != counts[i]],
                receiver=receiver)

name, resume_mode, resume_start = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
EXPR = SWEEPS[name]
reference = attempt(True, -1)
totals = dict(tries=0, refused=0, allocations=reference["allocations"])
for mode in range(resume_mode, 2):
    sticky = mode == 0
    start = resume_start if mode == resume_mode else 0
    while True:
        print(json.dumps({"at": [mode, start]}), flush=True)
        got = attempt(sticky, start)
        totals["tries"] += 1
        totals["refused"] += got["refused"]
        faults = []
        memory_error = got["outcome"][0] == "MemoryError"
        if got["outcome"] != reference["outcome"] and not memory_error:
            faults.append(["outcome", got["outcome"]])
        expected_after = got["before"] if memory_error else reference["after"]
        if got["after"][1:] != got["before"][1:]:
            faults.append(["arguments changed", got["after"][1:]])
        if got["after"][0] != expected_after[0]:
            faults.append(["receiver", got["after"][0]])
        if got["leaked"]:
            faults.append(["reference counts changed", got["leaked"]])
        if isinstance(got["receiver"], PemrikCollection):
            try:
                got["receiver"].add_request(REQS[1])  # its borrow must be free again
            except BaseException as e:
                faults.append(["receiver left borrowed", observe(e)])
        if faults:
            print(json.dumps({"fault": [mode, start], "details": faults}), flush=True)
        if got["refused"] == 0:
            break
        start += 1
print(json.dumps({"totals": totals}), flush=True)
"""

# Fresh import per try: the child forks, and the forked process imports the
# module with allocations refused, then imports it again without.
IMPORT_SWEEP = """
import importlib.util, json, os, sys, tempfile, _imp
import oomhelper
spec = importlib.util.find_spec("pemrik")
NAMES = "GET POST PUT DELETE HEAD OPTIONS PATCH TRACE CONNECT".split()

def describe(e):
    return e and [type(e).__name__, str(e), describe(e.__cause__)]

def check_module(m):
    assert m.__all__ == ["Pemrik", "PemrikCollection", "HTTPMETHOD"], m.__all__
    assert [c.__name__ for c in (m.Pemrik, m.PemrikCollection, m.HTTPMETHOD)] == m.__all__
    M = m.HTTPMETHOD
    assert [(repr(getattr(M, n)), int(getattr(M, n))) for n in NAMES] == [
        ("HTTPMETHOD." + n, i) for i, n in enumerate(NAMES)]
    r = m.Pemrik("https://h/p", [("A", "b")], M.PUT, "x")
    assert r.get_request_command() == 'curl -X PUT https://h/p -H "A: b" -d \\'x\\''
    c = m.PemrikCollection([r])
    c.add_request(r)
    assert len(json.loads(c.export_collection())["item"]) == 2

totals = dict(tries=0, refused=0)
for sticky in (True, False):
    for start in range(100000):
        sys.stdout.flush()
        r, w = os.pipe()
        err = tempfile.TemporaryFile()
        pid = os.fork()
        if pid == 0:
            os.close(r)
            os.dup2(err.fileno(), 2)
            completed, value, allocations, refused = oomhelper.call(sticky, start, _imp.create_dynamic, (spec,), None)
            report = dict(start=start, sticky=sticky, refused=refused,
                          outcome=None if completed else describe(value) or "NULL without exception")
            try:
                check_module(value if completed else _imp.create_dynamic(spec))
            except BaseException as e:
                report["later import"] = describe(e) or repr(e)
            os.write(w, json.dumps(report).encode())
            os._exit(0)
        os.close(w)
        with os.fdopen(r) as f:
            text = f.read()
        status = os.waitpid(pid, 0)[1]
        if not text:
            err.seek(0)
            stderr = err.read().decode(errors="replace")
            print(json.dumps({"crash": [sticky, start], "status": status, "stderr": stderr}), flush=True)
            continue
        report = json.loads(text)
        totals["tries"] += 1
        totals["refused"] += report["refused"]
        print(json.dumps(report), flush=True)
        if report["refused"] == 0:
            break
print(json.dumps({"totals": totals}), flush=True)
"""


@pytest.fixture(scope="session")
def helper(tmp_path_factory):
    """Builds the helper for this interpreter; returns the folder holding it."""
    compiler = shutil.which("g++")
    if not compiler:
        pytest.skip("g++ is needed to build the allocation-failure helper")
    out = tmp_path_factory.mktemp("oomhelper")
    subprocess.run(
        [compiler, "-std=c++17", "-O1", "-g", "-shared", "-fPIC", "-Wall", "-Wextra",
         "-I", sysconfig.get_paths()["include"], "-o", str(out / "oomhelper.so"), str(HELPER)],
        check=True,
    )
    return out


def run_sweep(helper, code, *argv):
    env = dict(os.environ, LD_PRELOAD=str(helper / "oomhelper.so"), PYTHONPATH=str(helper),
               PYTHONMALLOC="debug")
    return subprocess.run([sys.executable, "-u", "-c", code, *argv], capture_output=True,
                          text=True, env=env, timeout=600)


def native_stack(stderr):
    start = stderr.find("oomhelper: fatal signal")
    return stderr[start:] if start >= 0 else ""


def sweep_one(helper, name):
    """Runs the sweep of one operation, resuming after an interpreter crash."""
    code = f"SWEEPS = {SWEEPS!r}\n" + SWEEP
    mode = start = 0
    faults, interpreter_crashes, totals = [], [], None
    for _ in range(20):
        child = run_sweep(helper, code, name, str(mode), str(start))
        lines = [json.loads(line) for line in child.stdout.splitlines() if line.startswith("{")]
        faults += [line for line in lines if "fault" in line]
        totals = next((line["totals"] for line in lines if "totals" in line), None)
        if child.returncode == 0 and totals:
            break
        at = [line["at"] for line in lines if "at" in line]
        stack = native_stack(child.stderr)
        where = at[-1] if at else "before the first try"
        if not stack or "pemrik" in stack:
            culprit = "crashed in the module" if stack else "failed"
            pytest.fail(f"{name}: the sweep {culprit} at (mode, start) {where}, "
                        f"exit {child.returncode}:\n{child.stderr[-6000:]}")
        interpreter_crashes.append(where)
        mode, start = at[-1][0], at[-1][1] + 1
    if interpreter_crashes:
        warnings.warn(f"{name}: the interpreter itself crashed at (mode, start) {interpreter_crashes}")
    return faults, totals


@pytest.mark.parametrize("name", SWEEPS)
def test_every_operation_survives_every_refused_allocation(helper, name):
    faults, totals = sweep_one(helper, name)
    assert totals, "the sweep did not finish"
    print(f"oom sweep {name}: {totals}")
    assert not faults, "\n".join(json.dumps(f, ensure_ascii=False)[:1500] for f in faults[:10])


def test_import_survives_every_refused_allocation(helper):
    child = run_sweep(helper, IMPORT_SWEEP)
    lines = [json.loads(line) for line in child.stdout.splitlines() if line.startswith("{")]
    assert child.returncode == 0, child.stderr[-6000:]
    totals = lines[-1]["totals"]
    print(f"oom sweep import: {totals}")
    bad, interpreter_crashes = [], []
    for line in lines[:-1]:
        stack = native_stack(line.get("stderr", ""))
        if "crash" in line and stack and "pemrik" not in stack:
            interpreter_crashes.append(line["crash"])
        elif "crash" in line or "later import" in line or not import_outcome_allowed(line["outcome"]):
            bad.append(line)
    if interpreter_crashes:
        warnings.warn(f"import: the interpreter itself crashed at (sticky, start) {interpreter_crashes}")
    assert not bad, "\n".join(json.dumps(b)[:1500] for b in bad[:12])


def import_outcome_allowed(outcome):
    """Success or MemoryError; or the one failure the interpreter can report
    without an exception (a class it could not make) as the module's SystemError,
    inside the chain that names the class."""
    if outcome is None or outcome[0] == "MemoryError":
        return True
    while outcome and outcome[0] == "RuntimeError" and outcome[1].startswith(
            "An error occurred while initializing"):
        outcome = outcome[2]
    return outcome == ["SystemError", "attempted to fetch exception but none was set", None]
