"""The out-of-memory sweeps, with tests/oom_helper preloaded: for each [kind, call expression]
on standard input, forked tries refuse allocation `start` alone ("one"), every one from there
("sticky") or C++ allocation `start` alone ("cxx"), for start = 0, 1, ... until one meets no
refusal, printing [expression, faults] as a JSON line. A try must give the reference result
(start -1) or MemoryError and keep its receiver, arguments and reference counts, except that a
tenth may meet the interpreter's own failures: a fatal error with no frame of the module on the
native stack (seen as it builds a new module's classes), or a script function's lost exception."""

import _imp
import ast
import collections
import importlib.util
import json
import os
import sys
import sysconfig
import tempfile

import oomhelper  # before the module: the tries of the import sweep import it first

SPEC = importlib.util.find_spec("pemrik")
LOST_BY_SCRIPT = "<function raising.<locals>.item at "  # a script function of workflows.py
# A class the interpreter could not make while importing, reported as the SystemError it leaves.
NO_EXCEPTION = ["SystemError", "attempted to fetch exception but none was set", None]
LINE = "curl -X PUT https://h/p -H \"A: b\" -d 'x'"
# Free-threaded builds keep the references a class gets from its instances apart (per thread,
# deferred), so sys.getrefcount of a class moves as instances come and go: classes are left out of
# the counted objects there.
COUNTS_CLASSES = not sysconfig.get_config_var("Py_GIL_DISABLED")


def settle_import(receiver):  # importing again without a refusal gives a working module
    m = _imp.create_dynamic(SPEC)
    r = m.PemrikCollection([m.Pemrik("https://h/p", [("A", "b")], m.HTTPMETHOD.PUT, "x")])
    line = r.get_collection()[0].get_request_command()
    assert (m.__all__, line) == (["Pemrik", "PemrikCollection", "HTTPMETHOD"], LINE)


def describe(x):
    if isinstance(x, BaseException):
        return [type(x).__name__, str(x), x.__cause__]
    if hasattr(x, "get_request_command"):
        return x.get_request_command()
    if hasattr(x, "get_collection"):
        return ["collection", x.get_collection()]
    return list(x) if isinstance(x, collections.deque) else getattr(x, "__name__", repr(x))


def observe(x):  # as JSON gives it back
    return json.loads(json.dumps(x, default=describe))


def leaves(x):
    if isinstance(x, dict):
        x = [*x.keys(), *x.values()]
    elif not isinstance(x, (list, tuple, collections.deque)):
        return [x]
    return [x, *(o for i in x for o in leaves(i))]


def attempt(kind, expr, mode, start):
    if kind == "import":
        namespace = dict(_imp=_imp, spec=SPEC, STATIC=[], settle=settle_import)
    else:  # imported by the sweeps of operations only
        namespace = sys.modules["support.workflows"].objects(40)
    call = ast.parse(expr, mode="eval").body  # the callable and arguments, made beforehand
    value = lambda node: eval(compile(ast.Expression(node), expr, "eval"), namespace)  # noqa: E731
    func, args, kwargs = value(call.func), tuple(map(value, call.args)), {}
    for k in call.keywords:
        kwargs.update({k.arg: value(k.value)} if k.arg else value(k.value))
    receiver = getattr(func, "__self__", None)
    tracked = namespace["STATIC"] + [o for o in leaves((args, kwargs)) if not isinstance(o, int)]
    tracked = [o for o in tracked if COUNTS_CLASSES or not isinstance(o, type)]
    counts, before = [sys.getrefcount(o) for o in tracked], observe([receiver, args, kwargs])
    sys.stderr, stderr = None, sys.stderr  # reports written during the call add no tries
    try:
        value = oomhelper.call(mode, start, func, args, kwargs)
    except BaseException as e:
        value = e
    sys.stderr, refused, outcome = stderr, oomhelper.counts()[1], observe(value)
    del value
    now = [sys.getrefcount(o) for o in tracked]
    leaked = [repr(o)[:60] for o, a, b in zip(tracked, counts, now, strict=True) if a != b]
    after = observe([receiver, args, kwargs])
    namespace["settle"](receiver)  # raising, it fails the try as a crash without a native stack
    return dict(refused=refused, outcome=outcome, before=before, after=after, leaked=leaked)


def fork(*how):
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+", errors="replace") as err:
        if os.fork() == 0:
            os.dup2(err.fileno(), 2)
            print(json.dumps(attempt(*how)), file=out, flush=True)
            os._exit(0)
        os.wait()
        out.seek(0), err.seek(0)
        text = out.read()
        return json.loads(text) if text else dict(crash=err.read())


def error(outcome):
    return outcome[0] if isinstance(outcome, list) else None


def interpreters_own(outcome):  # a failed import's SystemError, under the errors it caused
    while error(outcome) == "RuntimeError" and outcome[1].startswith("An error occurred while"):
        outcome = outcome[2]
    return outcome == NO_EXCEPTION


def sweep(kind, expr):
    reference, faults, own, tries = fork(kind, expr, "one", -1), [], [], 0
    if "crash" in reference or reference["refused"] or reference["leaked"]:
        return [["reference run", reference]]
    for mode in ("one", "sticky", "cxx"):
        for start in range(10_000):
            t, where, tries = fork(kind, expr, mode, start), [mode, start], tries + 1
            if "crash" in t:
                stack = t["crash"].partition("oomhelper: fatal signal")[2]
                interpreters = stack and os.path.basename(SPEC.origin) not in stack
                (own if interpreters else faults).append([where, t["crash"]])
                continue
            if error(t["outcome"]) == "SystemError" and t["outcome"][1].startswith(LOST_BY_SCRIPT):
                own.append(where)
            elif t["outcome"] != reference["outcome"] and error(t["outcome"]) != "MemoryError":
                if not (kind == "import" and interpreters_own(t["outcome"])):
                    faults.append([where, "outcome", t["outcome"]])
            kept = t["before"] if error(t["outcome"]) == "MemoryError" else reference["after"]
            if t["after"] != [kept[0], *t["before"][1:]]:
                faults.append([where, "receiver or arguments changed", t["after"]])
            if t["leaked"]:
                faults.append([where, "reference counts changed", t["leaked"]])
            if t["refused"] == 0:
                break
        else:
            faults.append([mode, "no try met no refusal"])
    return faults[:10] + ([["the interpreter's own", own]] if len(own) > tries / 10 else [])


if __name__ == "__main__":
    for kind, expr in json.load(sys.stdin):
        if kind != "import":  # imported once here, not again in every try
            import support.workflows  # noqa: F401
        print(json.dumps([expr, sweep(kind, expr)], ensure_ascii=False), flush=True)
