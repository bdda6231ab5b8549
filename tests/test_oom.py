"""Out of memory: every public operation, and the import, with allocations refused.

A driver interpreter with tests/oom_helper preloaded forks one process per try,
refusing allocation number `start` alone, then every one from `start` on, then
C++ allocation number `start` alone (the module's own, while the interpreter's
succeed), for start = 0, 1, ... until the call completes without a refusal. A try must give
the correct result or MemoryError and leave its receiver, its arguments and
their reference counts as they were. A crash with a frame in the module fails;
one without is the interpreter's own and only warned about.
"""

import importlib.util
import json
import os
import shutil
import subprocess
import sys
import sysconfig
import warnings
from pathlib import Path

import pytest

pytestmark = pytest.mark.skipif(bool(os.environ.get("PEMRIK_SANITIZED")),
                                reason="replaces operator new, which the sanitizer runtime owns")

# Shared with test_leaks.py; SIZE sets the length of the texts.
SETUP = """
import collections, operator
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection
deque = collections.deque
URL = "https://例え.test:8443/api/it'ems?id=7&q=" + "x" * SIZE
ASCII = "http://127.0.0.1:8080/api/items/" + "y" * SIZE
HEADERS = [("Accept-" + "a" * SIZE, 'application/json "$`\\\\ ' * 3), ("X-\\x01-Trace", "é" * SIZE)]
BODY = '@{"id": 7, "name": "it\\'s here"}' + "\\n\\t" * SIZE
REQS = [Pemrik(URL, HEADERS, M.POST, BODY), Pemrik(ASCII, [], M.GET), Pemrik(ASCII, HEADERS, M.CONNECT, "")]
CUT = Pemrik("no-slash-" * 4, [], M.GET)
SURROGATE = "x\\ud800y" * SIZE
STATIC = [Pemrik, PemrikCollection, M,
          *(getattr(M, n) for n in "GET POST PUT DELETE HEAD OPTIONS PATCH TRACE CONNECT".split())]

def settle(receiver):  # a collection must be free to change again
    if isinstance(receiver, PemrikCollection):
        receiver.add_request(REQS[1])
"""

# Internal failures that come back through script code (headers that raise
# them). The report's traceback goes nowhere: displayed, it would multiply the
# tries while adding none of the module's own allocations.
REPORT_SETUP = SETUP + """
import sys
sys.stderr = None
PANIC = next(c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime")
class Unprintable(PANIC):
    def __str__(self):
        raise ValueError("no text")
def raising(exc):  # made beforehand; the raising frame holds no argument of the call
    def item(i):
        raise exc
    return type("Raising", (), {"__len__": lambda s: 1, "__getitem__": staticmethod(item)})()
"""

IMPORT_SETUP = """
import _imp, importlib.util
spec = importlib.util.find_spec("pemrik")
STATIC = []

def settle(receiver):  # importing again without a refusal gives a working module
    m = _imp.create_dynamic(spec)
    assert m.__all__ == ["Pemrik", "PemrikCollection", "HTTPMETHOD"]
    assert repr(m.HTTPMETHOD.CONNECT) == "HTTPMETHOD.CONNECT"
    r = m.PemrikCollection([m.Pemrik("https://h/p", [("A", "b")], m.HTTPMETHOD.PUT, "x")]).get_collection()[0]
    assert r.get_request_command() == "curl -X PUT https://h/p -H \\"A: b\\" -d 'x'"
"""

# Every operation and error path; its callable and arguments are evaluated
# after SETUP before each try, only the call itself runs with refusals.
OPERATIONS = [
    "Pemrik(URL, HEADERS, M.POST, BODY)", "Pemrik(body=BODY, method=M.DELETE, headers=tuple(HEADERS), url=ASCII)",
    "Pemrik(URL, deque(HEADERS), M.PATCH)", "PemrikCollection()", "PemrikCollection(REQS)",
    "PemrikCollection(collection=deque(REQS))", "PemrikCollection().add_request(REQS[0])",
    "PemrikCollection(REQS).add_request(pemrik=REQS[2])", "PemrikCollection(REQS).get_collection()",
    "PemrikCollection().get_collection()", "PemrikCollection(REQS).export_collection()",
    "PemrikCollection(REQS + [CUT]).export_collection()", "REQS[0].get_request_command()",
    "REQS[1].get_request_command()", "repr(M.OPTIONS)", "int(M.CONNECT)", "operator.eq(M.GET, M.GET)",
    "operator.ne(M.GET, 0)", "operator.lt(M.GET, M.POST)", "hash(M.GET)", "M('GET')",
    "Pemrik(URL, HEADERS, M.GET, BODY, 5)", "Pemrik(URL)", "Pemrik(URL, HEADERS, M.GET, url=URL)",
    "Pemrik(URL, HEADERS, M.GET, **{SURROGATE: 1})", "PemrikCollection().add_request(REQS[0], REQS[1])",
    "PemrikCollection().add_request(request=REQS[0])", "Pemrik(5, HEADERS, M.GET)",
    "Pemrik(SURROGATE, HEADERS, M.GET)", "Pemrik(URL, HEADERS + [('a', SURROGATE)], M.GET)",
    "Pemrik(URL, 'x', M.GET)", "Pemrik(URL, {}, M.GET)", "Pemrik(URL, [['a', 'b']], M.GET)",
    "Pemrik(URL, [('a', 'b', 'c')], M.GET)", "Pemrik(URL, HEADERS + [('a', 1)], M.GET)", "Pemrik(URL, HEADERS, 'GET')",
    "Pemrik(URL, HEADERS, M.GET, 5)", "PemrikCollection(REQS + [1])", "PemrikCollection(REQS).add_request('x')",
]
REPORTING = ["Pemrik(URL, raising(PANIC('came back through script code ' + 'p' * 40)), M.GET)",
             "Pemrik(URL, raising(Unprintable()), M.GET)"]
IMPORT = "_imp.create_dynamic(spec)"

DRIVER = """
import ast, collections, json, os, sys, tempfile, types
import oomhelper

def split(expr):  # the callable, positional and keyword arguments of a call
    call = ast.parse(expr, mode="eval").body
    value = lambda node: eval(compile(ast.Expression(node), expr, "eval"), globals())
    kwargs = {}
    for k in call.keywords:
        kwargs.update({k.arg: value(k.value)} if k.arg else value(k.value))
    return value(call.func), tuple(map(value, call.args)), kwargs

def describe(x):
    if isinstance(x, BaseException):
        return [type(x).__name__, str(x), x.__cause__]
    if type(x).__name__ == "Pemrik":
        return x.get_request_command()
    if type(x).__name__ == "PemrikCollection":
        return ["collection", x.get_collection()]
    if isinstance(x, collections.deque):
        return ["deque", list(x)]
    return x.__name__ if isinstance(x, types.ModuleType) else repr(x)

def observe(x):
    return json.loads(json.dumps(x, default=describe))

def leaves(x):
    if not isinstance(x, (dict, list, tuple, collections.deque)):
        return [x]
    return [x, *(o for i in ([*x.keys(), *x.values()] if isinstance(x, dict) else x) for o in leaves(i))]

def attempt(setup, expr, mode, start):
    exec(setup, globals())
    func, args, kwargs = split(expr)
    receiver = getattr(func, "__self__", None)
    tracked = STATIC + [o for o in leaves((args, kwargs)) if not isinstance(o, (int, type(None)))]
    counts = [sys.getrefcount(o) for o in tracked]
    before = observe([receiver, args, kwargs])
    try:
        value = oomhelper.call(mode, start, func, args, kwargs)
    except BaseException as e:
        value = e
    refused = oomhelper.counts()[1]
    outcome = observe(value)
    del value
    now = [sys.getrefcount(o) for o in tracked]
    leaked = [repr(o)[:60] for o, a, b in zip(tracked, counts, now) if a != b]
    after = observe([receiver, args, kwargs])
    settle(receiver)  # raising, it fails the try as a crash without a native stack
    return dict(refused=refused, outcome=outcome, before=before, after=after, leaked=leaked)

def fork(*how):
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+", errors="replace") as err:
        if os.fork() == 0:
            os.dup2(err.fileno(), 2)
            json.dump(attempt(*how), out)
            out.flush()
            os._exit(0)
        os.wait()
        out.seek(0)
        err.seek(0)
        text = out.read()
        return json.loads(text) if text else dict(crash=err.read())

def sweep(setup, expr):
    for mode in ("one", "sticky", "cxx"):
        for start in range(-1 if mode == "one" else 0, 10_000):
            got = fork(setup, expr, mode, start)
            print(json.dumps(dict(got, name=expr, mode=mode, start=start)), flush=True)
            if "crash" in got and start < 0:
                return
            if got.get("refused") == 0 and start >= 0:
                break

for setup, expr in json.load(sys.stdin):
    sweep(setup, expr)
"""

# A class the interpreter could not make, reported as the SystemError it leaves.
NO_EXCEPTION = ["SystemError", "attempted to fetch exception but none was set", None]
# The interpreter losing, without memory, the exception that a script function raises.
LOST_BY_SCRIPT = "<function raising.<locals>.item at "
MODULE_FILE = os.path.basename(importlib.util.find_spec("pemrik").origin)


@pytest.fixture(scope="module")
def sweeps(tmp_path_factory):
    """Every try of every sweep, by name: the reference run (start -1) first."""
    if not shutil.which("g++"):
        pytest.skip("g++ is needed to build the allocation-failure helper")
    out = tmp_path_factory.mktemp("oomhelper")
    subprocess.run(["g++", "-std=c++17", "-O1", "-g", "-shared", "-fPIC", "-Wall", "-Wextra",
                    "-I", sysconfig.get_paths()["include"], "-o", str(out / "oomhelper.so"),
                    str(Path(__file__).parent / "oom_helper" / "oomhelper.cpp")], check=True)
    env = dict(os.environ, LD_PRELOAD=str(out / "oomhelper.so"), PYTHONPATH=str(out), PYTHONMALLOC="debug")
    table = [("SIZE = 40\n" + SETUP, expr) for expr in OPERATIONS] + [(IMPORT_SETUP, IMPORT)]
    table += [("SIZE = 40\n" + REPORT_SETUP, expr) for expr in REPORTING]
    child = subprocess.run([sys.executable, "-c", DRIVER], input=json.dumps(table), env=env, cwd=out,
                           capture_output=True, text=True, timeout=900)
    assert child.returncode == 0, child.stderr[-6000:]
    tries = {}
    for line in child.stdout.splitlines():
        got = json.loads(line)
        tries.setdefault(got["name"], []).append(got)
    return tries


def kind(outcome):
    return outcome[0] if isinstance(outcome, list) else None


def allowed(name, outcome, reference):
    if outcome == reference or kind(outcome) == "MemoryError":
        return True
    while kind(outcome) == "RuntimeError" and outcome[1].startswith("An error occurred while initializing"):
        outcome = outcome[2]
    return name == IMPORT and outcome == NO_EXCEPTION


@pytest.mark.parametrize("name", OPERATIONS + [IMPORT] + REPORTING)
def test_every_refused_allocation(sweeps, name):
    reference, *tries = sweeps[name]
    assert [reference.get(k) for k in ("refused", "leaked")] == [0, []], reference
    assert {t["mode"] for t in tries if t.get("refused") == 0} == {"one", "sticky", "cxx"}, "a sweep did not complete"
    faults, own_crashes = [], []
    for t in tries:
        where = (t["mode"], t["start"])
        if "crash" in t:
            stack = t["crash"].partition("oomhelper: fatal signal")[2]
            own = stack and MODULE_FILE not in stack
            (own_crashes if own else faults).append((where, t["crash"][-3000:]))
            continue
        if kind(t["outcome"]) == "SystemError" and t["outcome"][1].startswith(LOST_BY_SCRIPT):
            own_crashes.append((where, t["outcome"]))
        elif not allowed(name, t["outcome"], reference["outcome"]):
            faults.append((where, "outcome", t["outcome"]))
        failed = kind(t["outcome"]) == "MemoryError"
        if t["after"] != [(t["before"] if failed else reference["after"])[0], *t["before"][1:]]:
            faults.append((where, "receiver or arguments changed", t["after"]))
        if t["leaked"]:
            faults.append((where, "reference counts changed", t["leaked"]))
    print(f"oom sweep {name}: {len(tries)} tries, {sum(t.get('refused', 0) for t in tries)} refused")
    if own_crashes:
        warnings.warn(f"{name}: the interpreter itself failed at (mode, start) {[w for w, _ in own_crashes]}")
    assert not faults, "\n".join(json.dumps(f, ensure_ascii=False)[:1500] for f in faults[:10])
