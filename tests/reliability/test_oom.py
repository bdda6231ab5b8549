"""Out of memory: the import and each workflow operation, a fork per try, refusing allocation 0, 1,
... alone ("one"), from there on ("sticky"), or C++'s new ("new"). Run as a script, the sweep."""

import ast
import ctypes
import gc
import os
import sys

import pytest

import pemrik
from support.cases import lines
from support.child import TESTS, run_child
from support.workflows import OPERATIONS, objects

_testcapi = pytest.importorskip("_testcapi")
IMPORT = "init()"  # the module's own part of an import, in a fresh copy of it
# Also passing: SystemError where the interpreter lost an exception (raising(), 3.13.0 imports).
FAILED = ("[MemoryError(", "[SystemError('<function raising.<locals>.item at ")
IMPORT_FAILED = (*FAILED, "[SystemError('attempted to fetch exception but none was set')")


shown = lambda x: repr([lines(x), getattr(x, "__cause__", None)])  # noqa: E731


def parts(x):  # x and what it holds, down through lists, tuples and dicts
    inner = gc.get_referents(x) if isinstance(x, list | tuple | dict) else []
    return [] if x is None or isinstance(x, int) else [x, *(p for i in inner for p in parts(i))]


def attempt(expr, mode, start):  # the try's record
    ns = dict(init=INIT, STATIC=[]) if expr == IMPORT else objects(40)
    end = ast.parse(expr, mode="eval").body.func.end_col_offset  # the callable, then its arguments
    func, (args, kwargs) = eval(expr[:end], ns), eval("(lambda *a, **k: (a, k))" + expr[end:], ns)
    receiver = getattr(func, "__self__", None)
    tracked = parts([ns["STATIC"], ns.get("REQS"), ns.get("HEADERS"), receiver, args, kwargs])
    counts, before = [sys.getrefcount(o) for o in tracked], shown(receiver)
    NEW[1], NEW[0], sys.stderr = start if mode == "new" else -1, 0, None  # no reports in the call
    if mode != "new":
        _testcapi.set_nomemory(start, start + 1 if mode == "one" else 0)
    try:
        value = func(*args, **kwargs)
    except BaseException as e:
        value = e
    try:  # in mode "one", this allocation is the refused one when the call met none
        met = NEW[0] > start if mode == "new" else bytearray(8) is not None
    except MemoryError:
        met = mode == "sticky"
    _testcapi.remove_mem_hooks()
    NEW[1], sys.stderr = -1, sys.__stderr__
    outcome, after = shown(value), shown(receiver)
    value = None  # let go of before the counts are read again
    now = [sys.getrefcount(o) for o in tracked]
    wrong = [repr(o)[:60] for o, a, b in zip(tracked, counts, now, strict=True) if a != b]
    if hasattr(receiver, "add_request"):  # its exclusive borrow can be taken, or the fork dies
        receiver.add_request(ns["REQS"][1])
    return dict(met=met, outcome=outcome, before=before, after=after, wrong=wrong)


def fork(*how):  # a try in a child: its record, or a crash (what the child said is on stderr)
    read, write = os.pipe()
    if os.fork() == 0:
        os.write(write, ascii(attempt(*how)).encode())
        os._exit(0)
    os.close(write)
    with open(read) as f:
        text = f.read()
    os.wait()
    return ast.literal_eval(text) if text else dict(crash=how)


def sweep(expr):  # up to 10 tries that neither give what the untouched call gives nor fail cleanly
    reference, calls, faults = fork(expr, "new", -1), 0, []
    for mode in ("one", "sticky", "new"):  # sticky: as far as mode "one" met its refusal
        for start in range(calls if mode == "sticky" else 10**6):
            if not (t := fork(expr, mode, start)).get("met", True) or len(faults) >= 10:
                calls = start
                break
            failed = str(t.get("outcome")).startswith(IMPORT_FAILED if expr == IMPORT else FAILED)
            if t != reference | (dict(outcome=t["outcome"], after=t["before"]) if failed else {}):
                faults.append([mode, start, t])
    return faults


def test_every_operation_with_allocations_refused(tmp_path):
    if os.environ.get("PEMRIK_SANITIZED") or sys.version_info < (3, 11, 7):
        pytest.skip("needs its own operator new, and CPython 3.11.7+ (3.11.2 raises TypeError(''))")
    build = f"g++ -O1 -shared -fPIC -o {tmp_path}/new.so {TESTS}/oom_helper/refuse_new.cpp"
    assert os.system(f"{build} && cp {pemrik.__file__} {tmp_path}/pemrik-copy.so") == 0
    env = dict(LD_PRELOAD=f"{tmp_path}/new.so", PYTHONMALLOC="debug")  # the module copied beside
    child = run_child(f"import runpy; runpy.run_path({__file__!r}, run_name='__main__')", 900, env)
    assert child.returncode == 0, child.stderr[-8000:]


if __name__ == "__main__":
    INIT = ctypes.PyDLL(os.path.dirname(os.environ["LD_PRELOAD"]) + "/pemrik-copy.so").PyInit_pemrik
    INIT.restype = ctypes.py_object
    NEW = (ctypes.c_longlong * 2).in_dll(ctypes.CDLL(None), "oom_new")
    faults = {expr: f for expr in [IMPORT, *OPERATIONS] if (f := sweep(expr))}
    sys.exit(ascii(faults) if faults else None)  # the faults, on stderr
