"""The module's surface: every call's outcome, and what a script may and may not do to classes."""

import itertools
import os
import subprocess
import sys
import sysconfig
import weakref

import pytest

import pemrik
from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import lines
from support.child import run_child
from support.hostile import Seq
from support.oracles import METHODS, curl_line

GET, POST, PUT = HTTPMETHOD.GET, HTTPMETHOD.POST, HTTPMETHOD.PUT
FIRST, SECOND = Pemrik("https://a/1", [("X", "1")], POST, ""), Pemrik("https://b/2", [], PUT)
SURROGATE, MEMBERS = "ab\udc80", [getattr(HTTPMETHOD, name) for name in METHODS]
CLASSES = (Pemrik, PemrikCollection, HTTPMETHOD)
StrSub = type("StrSub", (str,), {"__str__": lambda self: "not the content"})
BAD_ITER = type("BadIter", (), {"__getitem__": lambda s, i: ("a", "b"), "__iter__": lambda s: 5})()
LIES = {"__len__": lambda s: 2, "__getitem__": lambda s, i: "lie", "__iter__": lambda s: iter("l")}
LYING_PAIR = type("LyingTuple", (tuple,), LIES)(("a", "b", "c"))  # its own length is what counts
NAMELESS = type("Odd", (), {"__qualname__": "Odd\ud800"})()  # its type's name is no UTF-8
ITER_ERROR = "argument 'headers': " + str(pytest.raises(TypeError, iter, BAD_ITER).value)
ENCODE_ERROR = pytest.raises(UnicodeError, SURROGATE.encode).value  # as this version words it
PASSED = [ValueError("v"), type("TypeErrorSub", (TypeError,), {})("only TypeError is renamed")]
PASSED += [UnicodeEncodeError("utf-8", "x", 0, 1, "why"), KeyboardInterrupt()]
UNPRINTABLE = TypeError(type("Unprintable", (), {"__str__": lambda s: 1 / 0})())  # str() fails
RENAMED = TypeError("argument 'headers': <unprintable TypeError object>")
RENAMED.__cause__ = UNPRINTABLE.__cause__ = KeyError("kept")
OTHERS = [(m, o) for m in MEMBERS for o in (int(m), int(m) + 0.0, str(m), str(m)[11:], None)]
NEW, ADD = "Pemrik.__new__() ", "PemrikCollection.add_request() "
NEW_COLLECTION, VEC = "PemrikCollection.__new__() ", "Can't extract `str` to `Vec`"
VALUES = {"url": "/items", "headers": [("A", "1"), ("B", "2")], "method": POST, "body": "x"}
ARGS, KEYWORDS = list(VALUES.values())[:3], {"body": "x"}
LINE = curl_line("/items", VALUES["headers"], "POST", "x")
SPLITS = [(p, o) for p in range(5) for o in itertools.permutations(list(VALUES)[p:])]
SPLIT_CALLS = [  # the first p arguments by position, then the others by keyword in order o
    lambda p=p, o=o: [Pemrik(*list(VALUES.values())[:p], **{n: VALUES[n] for n in o})]
    for p, o in SPLITS
]


def converted(argument, given, wanted):  # a TypeError's text when an argument does not convert
    return f"argument '{argument}': '{given}' object cannot be converted to '{wanted}'"


def table(*rows):  # (expected, call, ...) rows as one test per call, named by its line
    calls = [(call, expected) for expected, *calls in rows for call in calls]
    return [pytest.param(*row, id=f"line {row[0].__code__.co_firstlineno}") for row in calls]


# expected: a str is a TypeError's text; an error, one like it; a class, any of it; else the value
CALLS = table(
    (NEW + "missing 3 required positional arguments: 'url', 'headers', and 'method'", lambda: Pemrik()),
    (NEW + "missing 2 required positional arguments: 'url' and 'method'", lambda: Pemrik(headers=[])),
    (ADD + "missing 1 required positional argument: 'pemrik'", lambda c: c.add_request()),
    # keywords are not read when there are too many positional arguments
    (NEW + "takes from 3 to 4 positional arguments but 6 were given", lambda: Pemrik(*"123456", x=1)),
    (NEW_COLLECTION + "takes from 0 to 1 positional arguments but 2 were given", lambda: PemrikCollection(0, 0)),
    (ADD + "takes 1 positional arguments but 2 were given", lambda c: c.add_request(FIRST, FIRST, x=1)),
    # keywords are read in order, before the missing arguments are looked for
    (NEW + "got an unexpected keyword argument 'x'", lambda: Pemrik(5, x=1, url=1)),
    (NEW + "got multiple values for argument 'url'", lambda: Pemrik(5, url=1, x=1)),
    (NEW + "got an unexpected keyword argument 'body\0'", lambda: Pemrik("/u", [], GET, **{"body\0": 1})),
    (ADD + "got multiple values for argument 'pemrik'", lambda c: c.add_request(FIRST, pemrik=FIRST)),
    (ADD + "got an unexpected keyword argument '\ufffd\ufffd\ufffd'", lambda c: c.add_request(**{"\udcff": 1})),
    (converted("url", "int", "PyString"), lambda: Pemrik(5, 5, 5, 5)),
    ("argument 'headers': " + VEC, lambda: Pemrik("/u", "", GET), lambda: Pemrik("/u", StrSub("ab"), GET)),
    (converted("headers", "int", "PyString"), lambda: Pemrik("/u", [("a", 1)], GET)),
    (ITER_ERROR, lambda: Pemrik("/u", BAD_ITER, GET)),
    (converted("headers", "<failed to extract type name>", "PyTuple"), lambda: Pemrik("/u", [NAMELESS], GET)),
    (converted("headers", "list", "PyTuple"), lambda: Pemrik("/u", Seq([("a", "1"), ["a", "b"], KeyError()]), GET)),
    (converted("method", "str", "HTTPMETHOD"), lambda: Pemrik("/u", [], "GET", SURROGATE)),
    (converted("method", "HTTPMETHOD", "HTTPMETHOD"), lambda: Pemrik("/u", [], type("HTTPMETHOD", (), {})())),
    ("argument 'collection': " + VEC, lambda: PemrikCollection("")),
    (converted("collection", "set", "Sequence"), lambda: PemrikCollection({FIRST})),
    (converted("collection", "int", "Pemrik"), lambda: PemrikCollection([FIRST, 5])),
    (converted("collection", "Pemrik", "Pemrik"), lambda: PemrikCollection([type("Pemrik", (), {})()])),
    (converted("pemrik", "NoneType", "Pemrik"), lambda c: c.add_request(pemrik=None)),
    (converted("pemrik", "PemrikCollection", "Pemrik"), lambda c: c.add_request(c)),  # borrowed
    # only the first failure in parameter order is reported
    (ENCODE_ERROR, lambda: Pemrik(SURROGATE, 5, 5, 5), lambda: Pemrik("/u", [(SURROGATE, 5)], 5)),
    (ENCODE_ERROR, lambda: Pemrik("/u", [("n", SURROGATE)], 5)),
    (ValueError("expected tuple of length 2, but got tuple of length 1"), lambda: Pemrik("/u", [("a",)], 5, 5)),
    (ValueError("expected tuple of length 2, but got tuple of length 3"), lambda: Pemrik("/u", [LYING_PAIR], 5)),
    # a TypeError is renamed after the argument, its text made valid, its cause kept
    ("argument 'headers': bad\ufffd\ufffd\ufffditem", lambda: Pemrik("/u", Seq([TypeError("bad\udc80item")]), GET)),
    (RENAMED, lambda: Pemrik("/u", Seq([("a", "1"), UNPRINTABLE]), GET)),
    ("argument 'collection': bad", lambda: PemrikCollection(Seq([FIRST, TypeError("bad")]))),
    *[(error, lambda error=error: Pemrik("/u", Seq([error]), GET)) for error in PASSED],  # the very same
    ("No constructor defined for HTTPMETHOD", lambda: HTTPMETHOD(), lambda: HTTPMETHOD.__new__(HTTPMETHOD, 0)),
    (TypeError, lambda: GET < POST, lambda: GET > 0, lambda: 0 <= GET, lambda: FIRST < SECOND, lambda: hash(GET)),
    (TypeError, lambda: [0][GET], lambda: float(GET), lambda: GET + 1, lambda: len(GET), lambda: iter(GET)),
    (TypeError, lambda: GET(), lambda: format(GET, "s"), lambda: Pemrik.get_request_command(5)),
    (TypeError, lambda: FIRST.get_request_command(1), lambda: FIRST.get_request_command(x=1)),
    (TypeError, lambda c: c.get_collection(1), lambda c: c.export_collection(x=1)),
    (TypeError, lambda: PemrikCollection.add_request(5, FIRST), lambda: weakref.ref(FIRST)),
    (TypeError, lambda c: weakref.ref(c), lambda: weakref.ref(GET)),
    (TypeError, *(lambda cls=cls: type("Sub", (cls,), {}) for cls in CLASSES)),
    (AttributeError, lambda: FIRST.url, lambda: FIRST.headers, lambda: FIRST.method, lambda: FIRST.body),
    (AttributeError, lambda: FIRST.anything, lambda c: c.collection, lambda: GET.value),
    (AttributeError, lambda: FIRST.__dict__, lambda c: c.__dict__, lambda: GET.__dict__),
    (AttributeError, lambda: setattr(FIRST, "url", 1), lambda c: setattr(c, "x", 1)),
    (AttributeError, lambda: setattr(GET, "name", 1)),
    ([(HTTPMETHOD, *[f"HTTPMETHOD.{n}"] * 3, i, True) for i, n in enumerate(METHODS)],
     lambda: [(type(m), repr(m), str(m), format(m, ""), int(m), bool(m)) for m in MEMBERS]),
    ([True] * len(METHODS) ** 2, lambda: [(m == b) == (m is b) != (m != b) for m in MEMBERS for b in MEMBERS]),
    ({(NotImplemented,) * 2 + (False, True)}, lambda: {(m.__eq__(o), m.__ne__(o), m == o, o != m) for m, o in OTHERS}),
    (None, lambda: PemrikCollection(), lambda: PemrikCollection(None), lambda: PemrikCollection(collection=None)),
    ([], lambda: PemrikCollection([]), lambda: PemrikCollection(collection=()), lambda: PemrikCollection(b"")),
    ([curl_line("/u", [], "GET", None)], lambda: [Pemrik("/u", b"", **{StrSub("method"): GET})]),
    ([LINE], *SPLIT_CALLS),
)  # fmt: skip


@pytest.mark.parametrize("call, expected", CALLS)
def test_outcome(call, expected, monkeypatch):  # a failed call leaves the collection as it was
    monkeypatch.setattr(sys, "unraisablehook", (unraisable := []).append)
    expected = TypeError(expected) if isinstance(expected, str) else expected
    cause = expected.__cause__ if isinstance(expected, BaseException) else None
    for start in [None, [], [FIRST, SECOND]]:
        collection = PemrikCollection(start)
        before = lines(collection), collection.export_collection()
        try:
            takes = call.__code__.co_argcount > len(call.__defaults__ or ())  # the collection
            got = lines(call(collection) if takes else call())
        except BaseException as error:
            renamed = type(error) is TypeError and str(error).startswith("argument '")
            chain = error.__cause__, error.__context__, error.__suppress_context__
            assert chain == (cause, None, renamed)
            assert (lines(collection), collection.export_collection()) == before
            got = type(error) if isinstance(expected, type) else error
        assert got is expected or (expected not in PASSED and repr(got) == repr(expected))
        collection.add_request(SECOND)  # every borrow was released: the exclusive one can be taken
    assert [u.exc_type for u in unraisable] == [ZeroDivisionError] * 3 * (expected is RENAMED)


def test_imported_again():  # the same module; a subinterpreter is refused, and this one goes on
    assert sys.modules.pop("pemrik") is (again := __import__("pemrik"))
    assert again.Pemrik is Pemrik and again.HTTPMETHOD.GET is GET and sys.modules["pemrik"] is again
    run = pytest.importorskip("_testcapi").run_in_subinterp
    assert [run("import pemrik"), run("import pemrik as p")] == [-1, -1]
    assert lines(Pemrik(*ARGS, **KEYWORDS)) == LINE


def unmade(cls):  # its __new__ replaced by the script's: an instance no constructor made
    cls.__new__ = staticmethod(lambda cls, *args, **keywords: object.__new__(cls))
    return cls.__new__(cls)


def refused(what, *calls):
    for call in calls:
        error = pytest.raises(TypeError, call).value
        assert str(error) == f"{what} object was not made by its constructor"


# A script's changes to the classes last, so this runs in a child; what it made is freed on return.
def classes_changed():  # the constructor's work is __new__'s: a script's __init__ changes nothing
    Pemrik.__init__ = lambda self, *args, **keywords: seen.append((args, keywords))
    seen = []
    made = [Pemrik(*ARGS, **KEYWORDS), type.__call__(Pemrik, *ARGS, **KEYWORDS)]
    assert lines(made) == [LINE] * 2 and seen == [(tuple(ARGS), KEYWORDS)] * 2
    request, collection, member = Pemrik(*ARGS), PemrikCollection(), unmade(HTTPMETHOD)
    refused("HTTPMETHOD", lambda: repr(member), lambda: str(member), lambda: int(member))
    refused("argument 'method': HTTPMETHOD", lambda: Pemrik("u", [], member))
    # the comparison declines it, so the interpreter compares identities; the members go on
    assert member != GET and not GET == member and member == member and [member, GET].index(GET)
    assert [repr(GET), GET == GET] == ["HTTPMETHOD.GET", True]
    unmade_request = unmade(Pemrik)
    refused("Pemrik", unmade_request.get_request_command)
    refused("argument 'pemrik': Pemrik", lambda: collection.add_request(unmade_request))
    refused("argument 'collection': Pemrik", lambda: PemrikCollection([request, unmade_request]))
    c = unmade(PemrikCollection)
    refused("PemrikCollection", c.get_collection, c.export_collection, lambda: c.add_request(FIRST))
    assert lines(request) == curl_line(*ARGS[:2], "POST", None)


def test_what_a_script_may_do_to_the_classes():
    child = run_child("from behaviour.test_surface import classes_changed\nclasses_changed()")
    assert child.returncode == 0, child.stderr[-3000:]


def test_module_and_classes():
    public = [name for name in vars(pemrik) if not name.startswith("__")]
    assert pemrik.__all__ == public == [c.__name__ for c in CLASSES] and pemrik.__doc__ == ""
    assert pemrik.__file__.endswith("/pemrik" + sysconfig.get_config_var("EXT_SUFFIX"))
    nm = subprocess.run(["nm", "-D", "--defined-only", pemrik.__file__], capture_output=True).stdout
    assert nm.split()[2::3] == [b"PyInit_pemrik"]  # only the entry point is exported
    pytest.raises(TypeError, Pemrik, 5, [], GET)  # the module has raised: its panic class exists
    found = [c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime"]
    assert [c.__qualname__ for c in found] == ["PanicException"] and "Panic" not in str(dir(pemrik))
    for cls, name, doc in zip(CLASSES, public, ["", "", None], strict=True):  # the rest: stubtest
        described = cls.__qualname__, cls.__module__, cls.__bases__, cls.__doc__
        assert described == (name, "builtins", (object,), doc)


EMBEDDING = """#include <Python.h>
int main(int argc, char **argv) {  /* runs argv[1] twice, each time in a fresh interpreter */
    for (int run = 0; run < 2; ++run)
        if (Py_Initialize(), PyRun_SimpleString(argv[1]), Py_FinalizeEx() != 0) return 1;
}"""
IMPORT = "from pemrik import *; print(Pemrik('/p', [], HTTPMETHOD.GET).get_request_command())"
REIMPORTED = "pemrik cannot be imported again after the interpreter that imported it was finalized"
VAR = sysconfig.get_config_var
LIBRARY = os.path.join(VAR("LIBDIR"), VAR("LDLIBRARY") or "-")  # the interpreter, shared


@pytest.mark.skipif(not os.path.exists(LIBRARY), reason="no libpython where the configuration says")
def test_imported_again_after_the_interpreter_was_finalised(tmp_path):
    flags = f"-I{sysconfig.get_paths()['include']} -L{VAR('LIBDIR')} -lpython{VAR('LDVERSION')}"
    flags += f" {VAR('LIBS')} {VAR('SYSLIBS')} {VAR('LINKFORSHARED')}"  # for a static libpython
    flags += f" -Wl,-rpath,{VAR('LIBDIR')} -o {tmp_path}/embed"
    subprocess.run(["cc", "-x", "c", "-", *flags.split()], input=EMBEDDING, text=True, check=True)
    env = dict(os.environ, PYTHONHOME=sys.base_prefix, PYTHONPATH=os.path.dirname(pemrik.__file__))
    run = subprocess.run([tmp_path / "embed", IMPORT], env=env, capture_output=True, text=True)
    expected = (0, [curl_line("/p", [], "GET", None)], ["ImportError: " + REIMPORTED])
    assert (run.returncode, run.stdout.splitlines(), run.stderr.splitlines()[-1:]) == expected
