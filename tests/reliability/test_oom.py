"""Out of memory: the import and every operation of support/workflows.py, each try forked, with the
interpreter's allocation number `start` refused alone ("one") or every one from there on ("sticky")
by _testcapi.set_nomemory, or C++ operator new number `start` alone ("new", tests/oom_helper), for
start = 0, 1, ... while the call meets the refusal. Run in a child, this file is the sweep."""

import ast
import ctypes
import json
import os
import re
import shutil
import subprocess
import sys
import traceback
from pathlib import Path

import pytest

import pemrik
from support.child import TESTS, run_child
from support.workflows import OPERATIONS, objects

IMPORT = "init()"  # the module's own part of an import, in a fresh copy of it
# The interpreter's own failures pass too: a script function of workflows.py that lost its
# exception, and (3.13.0, importing) PyType_FromSpec failing without one, reported as SystemError.
FAILED = r"MemoryError|SystemError: <function raising\.<locals>\.item at "
IMPORT_FAILED = FAILED + "|SystemError: attempted to fetch exception but none was set"


def seen(x, tracked):  # a value as JSON (a request as its line), its parts added to tracked
    tracked += [] if x is None or isinstance(x, int) else [x]
    if isinstance(x, BaseException):
        return f"{type(x).__name__}: {x} <- {seen(x.__cause__, [])}"
    if hasattr(x, "get_collection"):
        x = ["collection", x.get_collection()]
    if isinstance(x, dict) or hasattr(x, "__iter__") and not isinstance(x, str):
        return [seen(i, tracked) for i in (x.items() if isinstance(x, dict) else x)]
    text = getattr(x, "__name__", re.sub(" at 0x[0-9a-f]+", "", repr(x)))  # as any process has it
    return getattr(x, "get_request_command", lambda: text)()


def usable(receiver, ns):  # afterwards a collection takes a request; a new import makes one
    if m := ns.get("init") and ns["init"]():
        return m.Pemrik("/p", [], m.HTTPMETHOD.PUT).get_request_command()
    return hasattr(receiver, "add_request") and receiver.add_request(ns["REQS"][1])


def attempt(expr, mode, start):  # the try's record
    ns = dict(init=INIT, STATIC=[]) if expr == IMPORT else objects(40)
    end = ast.parse(expr, mode="eval").body.func.end_col_offset  # the callable, then its arguments
    func, (args, kwargs) = eval(expr[:end], ns), eval("(lambda *a, **k: (a, k))" + expr[end:], ns)
    receiver, tracked = getattr(func, "__self__", None), ns["STATIC"][:]
    before = seen([receiver, args, kwargs], tracked)
    counts, sys.stderr = [sys.getrefcount(o) for o in tracked], None  # no reports in the call
    NEW[1].value, NEW[0].value = start if mode == "new" else -1, 0
    if mode != "new":
        _testcapi.set_nomemory(start, start + 1 if mode == "one" else 0)
    try:
        value = func(*args, **kwargs)
    except BaseException as e:
        value = e
    try:  # in mode "one", this allocation is the refused one when the call met none
        met = bytearray(8) is not None
    except MemoryError:
        met = mode == "sticky"
    _testcapi.remove_mem_hooks()
    NEW[1].value, sys.stderr = -1, sys.__stderr__
    outcome, value = seen(value, []), None
    now, after = [sys.getrefcount(o) for o in tracked], seen([receiver, args, kwargs], [])
    wrong = [repr(o)[:60] for o, a, b in zip(tracked, counts, now, strict=True) if a != b]
    try:
        works = usable(receiver, ns)
    except Exception as e:
        works, wrong = None, [*wrong, f"unusable: {e!r}"]
    met = NEW[0].value > start if mode == "new" else met
    return dict(met=met, outcome=outcome, before=before, after=after, usable=works, wrong=wrong)


def fork(*how):  # a try in a child: its record, or what the child wrote before it died
    read, write = os.pipe()
    if os.fork() == 0:
        os.dup2(write, 2)
        try:
            print("\n" + json.dumps(attempt(*how)), file=sys.stderr, flush=True)
        except BaseException:
            traceback.print_exc()
        os._exit(0)
    os.close(write)
    with open(read, errors="replace") as f:
        text, _ = f.read(), os.wait()
    try:
        return json.loads(text.strip().rpartition("\n")[2])
    except ValueError:
        return dict(crash=text[-3000:])


def sweep(expr):  # a try gives what the untouched call gives, or fails as memory ran out, and
    # keeps the receiver (as the untouched call leaves it, unless failed), arguments and counts
    reference, faults, calls = fork(expr, "new", -1), [], 0
    if reference.get("wrong") != []:
        return [reference]
    for mode in ("one", "sticky", "new"):
        for start in range(calls if mode == "sticky" else 10**6):
            t = fork(expr, mode, start)
            if not t.get("met", True) or len(faults) >= 10:
                calls = start if mode == "one" else calls
                break
            failed = re.match(IMPORT_FAILED if expr == IMPORT else FAILED, str(t.get("outcome")))
            if t != reference | (dict(outcome=t["outcome"], after=t["before"]) if failed else {}):
                faults.append([mode, start, t])
    return faults


# The sanitizer runtime owns operator new. CPython 3.11.2 was seen raising TypeError('') from
# its own code (operator.lt, hash) when an allocation is refused there; 3.11.7 reports MemoryError.
@pytest.mark.skipif(
    bool(os.environ.get("PEMRIK_SANITIZED")) or sys.version_info < (3, 11, 7),
    reason="needs CPython 3.11.7 or later and its own operator new",
)
def test_every_operation_with_allocations_refused(tmp_path):
    pytest.importorskip("_testcapi")
    hook, copy = tmp_path / "refuse_new.so", shutil.copy(pemrik.__file__, tmp_path)
    build = ["g++", "-std=c++17", "-O1", "-shared", "-fPIC", "-o", hook]
    subprocess.run([*build, TESTS / "oom_helper" / "refuse_new.cpp"], check=True)
    env = dict(LD_PRELOAD=str(hook), PYTHONMALLOC="debug", PEMRIK_COPY=copy)
    child = run_child(Path(__file__).read_text(), timeout=900, env=env)
    faults = {expr: f for expr, f in map(json.loads, child.stdout.splitlines()) if f}
    assert (child.returncode, faults) == (0, {}), json.dumps(faults)[:8000] + child.stderr[-3000:]


if __name__ == "__main__":
    import _testcapi

    INIT = ctypes.PyDLL(os.environ["PEMRIK_COPY"]).PyInit_pemrik
    INIT.restype, names = ctypes.py_object, ("oom_new_count", "oom_refuse_new")
    NEW = [ctypes.c_longlong.in_dll(ctypes.CDLL(None), name) for name in names]
    for expr in [IMPORT, *OPERATIONS]:
        print(json.dumps([expr, sweep(expr)], ensure_ascii=False), flush=True)
