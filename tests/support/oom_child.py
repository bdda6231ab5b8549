"""The driver of the out-of-memory sweeps, run with the oomhelper library
preloaded: reads [kind, call expression] pairs as JSON on standard input and
prints one JSON line per try. Each try runs in a forked process: allocation
number `start` refused alone ("one"), every one from `start` on ("sticky"),
or C++ allocation number `start` alone ("cxx"), for start = 0, 1, ... until
the call completes without a refusal; start -1 is the reference run."""

import _imp
import ast
import collections
import importlib.util
import json
import os
import sys
import tempfile
import types

import oomhelper  # before the module: the tries of the import sweep import it first

SIZE = 40


def objects(size):  # imports the module only in the sweeps that use it
    from support.workflows import objects

    return objects(size)


def raising(exc):  # made beforehand; the raising frame holds no argument of the call
    def item(i):
        raise exc

    return type("Raising", (), {"__len__": lambda s: 1, "__getitem__": staticmethod(item)})()


def report_namespace():
    """Internal failures that come back through script code. The report's
    traceback goes nowhere: displayed, it would multiply the tries while
    adding none of the module's own allocations."""
    sys.stderr = None
    namespace = objects(SIZE)
    try:  # the internal failure class is made when the module first raises
        namespace["Pemrik"](5, [], namespace["M"].GET)
    except TypeError:
        pass
    panic = next(c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime")

    def unprintable_text(self):
        raise ValueError("no text")

    unprintable = type("Unprintable", (panic,), {"__str__": unprintable_text})
    return dict(namespace, PANIC=panic, Unprintable=unprintable, raising=raising)


def import_namespace():
    spec = importlib.util.find_spec("pemrik")

    def settle(receiver):  # importing again without a refusal gives a working module
        m = _imp.create_dynamic(spec)
        assert m.__all__ == ["Pemrik", "PemrikCollection", "HTTPMETHOD"]
        assert repr(m.HTTPMETHOD.CONNECT) == "HTTPMETHOD.CONNECT"
        r = m.PemrikCollection(
            [m.Pemrik("https://h/p", [("A", "b")], m.HTTPMETHOD.PUT, "x")]
        ).get_collection()[0]
        assert r.get_request_command() == "curl -X PUT https://h/p -H \"A: b\" -d 'x'"

    return dict(_imp=_imp, spec=spec, STATIC=[], settle=settle)


NAMESPACES = {
    "operation": lambda: objects(SIZE),
    "report": report_namespace,
    "import": import_namespace,
}


def split(expr, namespace):  # the callable, positional and keyword arguments of a call
    call = ast.parse(expr, mode="eval").body
    value = lambda node: eval(compile(ast.Expression(node), expr, "eval"), namespace)  # noqa: E731
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
    return [
        x,
        *(o for i in ([*x.keys(), *x.values()] if isinstance(x, dict) else x) for o in leaves(i)),
    ]


def attempt(kind, expr, mode, start):
    namespace = NAMESPACES[kind]()
    func, args, kwargs = split(expr, namespace)
    receiver = getattr(func, "__self__", None)
    tracked = namespace["STATIC"] + [
        o for o in leaves((args, kwargs)) if not isinstance(o, (int, type(None)))
    ]
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
    leaked = [repr(o)[:60] for o, a, b in zip(tracked, counts, now, strict=True) if a != b]
    after = observe([receiver, args, kwargs])
    namespace["settle"](receiver)  # raising, it fails the try as a crash without a native stack
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


def sweep(kind, expr):
    for mode in ("one", "sticky", "cxx"):
        for start in range(-1 if mode == "one" else 0, 10_000):
            got = fork(kind, expr, mode, start)
            print(json.dumps(dict(got, name=expr, mode=mode, start=start)), flush=True)
            if "crash" in got and start < 0:
                return
            if got.get("refused") == 0 and start >= 0:
                break


if __name__ == "__main__":
    for kind, expr in json.load(sys.stdin):
        if kind != "import":  # imported once here, not again in every try
            import support.workflows  # noqa: F401
        sweep(kind, expr)
