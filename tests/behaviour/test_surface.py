"""The module's surface: every call's outcome (binding, conversions, refusals, results), what a
script may not do to the classes, and what it may (assign __new__ and __init__, in a child)."""

import gc
import itertools
import os
import shutil
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
StrSub = type("StrSub", (str,), {"__str__": lambda self: "not the content"})
BAD_ITER = type("BadIter", (), {"__getitem__": lambda s, i: ("a", "b"), "__iter__": lambda s: 5})()
LIES = {"__len__": lambda s: 2, "__getitem__": lambda s, i: "lie", "__iter__": lambda s: iter("l")}
LYING_PAIR = type("LyingTuple", (tuple,), LIES)(("a", "b", "c"))  # its own length is what counts
PASSED = [ValueError("v"), type("TypeErrorSub", (TypeError,), {})("only TypeError is renamed")]
PASSED += [UnicodeEncodeError("utf-8", "x", 0, 1, "why"), KeyboardInterrupt()]
CLASSES = (Pemrik, PemrikCollection, HTTPMETHOD)
OTHERS = [(m, o) for m in MEMBERS for o in (int(m), int(m) + 0.0, str(m), str(m)[11:], None)]
NEW, ADD = "Pemrik.__new__() ", "PemrikCollection.add_request() "
NEW_COLLECTION, VEC = "PemrikCollection.__new__() ", "Can't extract `str` to `Vec`"
CONVERTED = "argument '{}': '{}' object cannot be converted to '{}'"
VALUES = {"url": "/items", "headers": [("A", "1"), ("B", "2")], "method": POST, "body": "x"}
# every split of the four arguments into positional and keyword ones, the keywords in any order
SPLITS = [(p, o) for p in range(5) for o in itertools.permutations(list(VALUES)[p:])]
SPLIT_CALLS = [
    lambda p=p, o=o, make=make: make(*list(VALUES.values())[:p], **{n: VALUES[n] for n in o})
    for p, o in SPLITS for make in (Pemrik, lambda *a, **k: Pemrik.__new__(Pemrik, *a, **k))
]  # fmt: skip


def raised(call, *args):  # the interpreter's own error, read at run time: versions word it apart
    try:
        call(*args)
    except Exception as error:
        return error


def table(*rows):
    """(expected, call, ...) rows as one test per call, named by the line it stands on. A call
    with a parameter that has no default is given the collection under test."""
    calls = [(call, expected) for expected, *calls in rows for call in calls]
    return [pytest.param(*row, id=f"line {row[0].__code__.co_firstlineno}") for row in calls]


CALLS = table(  # expected: a str is a TypeError's text; an error, one like it; a class, any of it
    (NEW + "missing 3 required positional arguments: 'url', 'headers', and 'method'", lambda: Pemrik()),
    (NEW + "missing 2 required positional arguments: 'headers' and 'method'", lambda: Pemrik("/u")),
    (NEW + "missing 1 required positional argument: 'method'", lambda: Pemrik("/u", [])),
    (NEW + "missing 2 required positional arguments: 'url' and 'method'", lambda: Pemrik(headers=[])),
    (ADD + "missing 1 required positional argument: 'pemrik'", lambda c: c.add_request()),
    # too many positional arguments: keywords are not looked at
    (NEW + "takes from 3 to 4 positional arguments but 6 were given", lambda: Pemrik(*"123456", x=1)),
    (NEW_COLLECTION + "takes from 0 to 1 positional arguments but 2 were given", lambda: PemrikCollection(0, 0)),
    (ADD + "takes 1 positional arguments but 2 were given", lambda c: c.add_request(FIRST, FIRST, x=1)),
    # keywords are examined in the order given, before the missing check
    (NEW + "got an unexpected keyword argument 'x'", lambda: Pemrik(5, x=1, url=1)),
    (NEW + "got multiple values for argument 'url'", lambda: Pemrik(5, url=1, x=1)),
    (NEW + "got an unexpected keyword argument 'body\0'", lambda: Pemrik("/u", [], GET, **{"body\0": 1})),
    (NEW_COLLECTION + "got multiple values for argument 'collection'", lambda: PemrikCollection(0, collection=0)),
    (ADD + "got multiple values for argument 'pemrik'", lambda c: c.add_request(FIRST, pemrik=FIRST)),
    (ADD + "got an unexpected keyword argument 'request'", lambda c: c.add_request(request=FIRST)),
    (ADD + "got an unexpected keyword argument '\ufffd\ufffd\ufffd'", lambda c: c.add_request(FIRST, **{"\udcff": 1})),
    (CONVERTED.format("url", "int", "PyString"), lambda: Pemrik(5, 5, 5, 5)),
    ("argument 'headers': " + VEC, lambda: Pemrik("/u", "", GET), lambda: Pemrik("/u", StrSub("ab"), GET)),
    (CONVERTED.format("headers", "dict", "Sequence"), lambda: Pemrik("/u", {}, GET)),
    (CONVERTED.format("headers", "list", "PyTuple"), lambda: Pemrik("/u", [["a", "b"]], GET)),
    (CONVERTED.format("headers", "int", "PyString"), lambda: Pemrik("/u", [("a", 1)], GET)),
    ("argument 'headers': " + str(raised(iter, BAD_ITER)), lambda: Pemrik("/u", BAD_ITER, GET)),
    # the first bad item ends the conversion: the next one is not read
    (CONVERTED.format("headers", "int", "PyTuple"), lambda: Pemrik("/u", Seq([("a", "1"), 5, KeyError()]), GET)),
    (CONVERTED.format("method", "str", "HTTPMETHOD"), lambda: Pemrik("/u", [], "GET", SURROGATE)),
    (CONVERTED.format("method", "HTTPMETHOD", "HTTPMETHOD"), lambda: Pemrik("/u", [], type("HTTPMETHOD", (), {})())),
    (CONVERTED.format("method", "Pemrik", "HTTPMETHOD"), lambda: Pemrik("/u", [], FIRST)),
    (CONVERTED.format("body", "int", "PyString"), lambda: Pemrik("/u", [], GET, 5)),
    ("argument 'collection': " + VEC, lambda: PemrikCollection("")),
    (CONVERTED.format("collection", "set", "Sequence"), lambda: PemrikCollection({FIRST})),
    (CONVERTED.format("collection", "int", "Pemrik"), lambda: PemrikCollection([FIRST, 5])),
    (CONVERTED.format("collection", "HTTPMETHOD", "Pemrik"), lambda: PemrikCollection([GET])),
    (CONVERTED.format("collection", "Pemrik", "Pemrik"), lambda: PemrikCollection([type("Pemrik", (), {})()])),
    (CONVERTED.format("pemrik", "str", "Pemrik"), lambda c: c.add_request("x")),
    (CONVERTED.format("pemrik", "NoneType", "Pemrik"), lambda c: c.add_request(pemrik=None)),
    (CONVERTED.format("pemrik", "PemrikCollection", "Pemrik"), lambda c: c.add_request(c)),  # borrowed
    # the interpreter's own error; only the first failure in parameter order is reported
    (raised(str.encode, SURROGATE), lambda: Pemrik(SURROGATE, 5, 5, 5), lambda: Pemrik("/u", [(SURROGATE, 5)], 5)),
    (raised(str.encode, SURROGATE), lambda: Pemrik("/u", [("n", SURROGATE)], 5), lambda: Pemrik("/u", [], GET, SURROGATE)),
    (ValueError("expected tuple of length 2, but got tuple of length 1"), lambda: Pemrik("/u", [("a",)], 5, 5)),
    (ValueError("expected tuple of length 2, but got tuple of length 3"), lambda: Pemrik("/u", [LYING_PAIR], 5)),
    # a TypeError is renamed after the argument, with its text made valid
    ("argument 'headers': bad\ufffd\ufffd\ufffditem", lambda: Pemrik("/u", Seq([TypeError("bad\udc80item")]), GET)),
    # what the script's own sequence raises passes unchanged, the very same object
    *[(error, lambda error=error: Pemrik("/u", Seq([error]), GET)) for error in PASSED],
    ("No constructor defined for HTTPMETHOD", lambda: HTTPMETHOD(), lambda: HTTPMETHOD.__new__(HTTPMETHOD, 0)),
    # a TypeError in the interpreter's words: no order, hash, arithmetic, argument, subclass, weakref
    (TypeError, lambda: GET < POST, lambda: GET >= POST, lambda: GET > 0, lambda: 0 <= GET, lambda: FIRST < SECOND),
    (TypeError, lambda: hash(GET), lambda: {GET}, lambda: [0][GET], lambda: float(GET), lambda: GET + 1),
    (TypeError, lambda: GET | POST, lambda: len(GET), lambda: iter(GET), lambda: GET(), lambda: format(GET, "s")),
    (TypeError, lambda: FIRST.get_request_command(1), lambda: FIRST.get_request_command(x=1), lambda: Pemrik.get_request_command(5)),
    (TypeError, lambda c: c.get_collection(1), lambda c: c.export_collection(x=1), lambda: PemrikCollection.add_request(5, FIRST)),
    (TypeError, lambda: weakref.ref(FIRST), lambda c: weakref.ref(c), lambda: weakref.ref(GET)),
    (TypeError, *(lambda cls=cls: type("Sub", (cls,), {}) for cls in CLASSES)),
    # no field is readable or writable, and there is no instance dictionary
    (AttributeError, lambda: FIRST.url, lambda: FIRST.headers, lambda: FIRST.method, lambda: FIRST.body),
    (AttributeError, lambda: FIRST.anything, lambda c: c.collection, lambda: GET.value, lambda: FIRST.__dict__),
    (AttributeError, lambda c: c.__dict__, lambda: GET.__dict__, lambda: setattr(FIRST, "url", 1)),
    (AttributeError, lambda c: setattr(c, "x", 1), lambda: setattr(GET, "name", 1)),
    # the members: their texts and values; equal by identity only; anything else declined
    ([(HTTPMETHOD, *[f"HTTPMETHOD.{n}"] * 3, i, True) for i, n in enumerate(METHODS)], lambda: [(type(m), repr(m), str(m), format(m, ""), int(m), bool(m)) for m in MEMBERS]),
    ([True] * len(METHODS) ** 2, lambda: [(m == b) == (m is b) != (m != b) for m in MEMBERS for b in MEMBERS]),
    ({(NotImplemented,) * 2 + (False, True)}, lambda: {(m.__eq__(o), m.__ne__(o), m == o, o != m) for m, o in OTHERS}),
    (None, lambda: PemrikCollection(), lambda: PemrikCollection(None), lambda: PemrikCollection(collection=None)),
    ([], lambda: PemrikCollection([]), lambda: PemrikCollection(collection=()), lambda: PemrikCollection(b"")),
    ([SECOND, FIRST, SECOND], lambda: PemrikCollection((SECOND, FIRST, SECOND))),
    ([curl_line("/u", [], "GET", None)], lambda: [Pemrik("/u", b"", **{StrSub("method"): GET})]),
    ([curl_line("/items", VALUES["headers"], "POST", "x")], *(lambda call=call: [call()] for call in SPLIT_CALLS)),
)  # fmt: skip


@pytest.mark.parametrize("call, expected", CALLS)
def test_outcome(call, expected):  # a failed call leaves the collection as it was
    expected = TypeError(expected) if isinstance(expected, str) else expected
    like = isinstance(expected, BaseException) and expected not in PASSED  # type and arguments
    for start in [None, [], [FIRST, SECOND]]:
        collection = PemrikCollection(start)
        before = lines(collection), collection.export_collection()
        try:
            given = call.__code__.co_argcount > len(call.__defaults__ or ())  # wants the collection
            got = lines(call(collection) if given else call())
        except BaseException as error:
            renamed = type(error) is TypeError and str(error).startswith("argument '")
            assert (error.__cause__, error.__context__, error.__suppress_context__) == (None, None, renamed)  # fmt: skip
            assert (lines(collection), collection.export_collection()) == before
            got = type(error) if isinstance(expected, type) else error
        if like:
            assert (type(got), getattr(got, "args", None)) == (type(expected), expected.args)
        else:
            assert got is expected or got == lines(expected)
        collection.add_request(SECOND)  # every borrow was released: the exclusive one can be taken


def test_renamed_type_error_keeps_the_cause(monkeypatch):
    monkeypatch.setattr(sys, "unraisablehook", (unraisable := []).append)
    caught = TypeError(type("Unprintable", (), {"__str__": lambda s: 1 / 0})())
    caught.__cause__ = KeyError("k")
    with pytest.raises(TypeError) as info:
        Pemrik("/u", headers := Seq([("a", "1"), caught, ("c", "3")]), GET)
    error, text = info.value, "argument 'headers': <unprintable TypeError object>"
    assert type(error) is TypeError and error.__suppress_context__  # renamed, the cause kept
    assert (str(error), error.__cause__, error.__context__) == (text, caught.__cause__, None)
    assert [u.exc_type for u in unraisable] == [ZeroDivisionError]
    assert headers.read == [0, 1]  # the first bad item ends the reading: none read twice or past it


# What a script may do to the classes, and what the module makes of it: each scenario runs in a
# child interpreter of its own, since it changes the classes for good.
ARGS, KEYWORDS = ("https://h/p", [("A", "b")], PUT), {"body": "x"}
LINE = curl_line("https://h/p", [("A", "b")], "PUT", "x")


def made():  # by calling the class, and through type.__call__
    return [Pemrik(*ARGS, **KEYWORDS), type.__call__(Pemrik, *ARGS, **KEYWORDS)]


def init_and_new_assigned():
    Pemrik.__init__ = lambda self, *args, **keywords: seen.append((args, keywords))
    seen = []
    assert lines(made()) == [LINE] * 2 and seen == [(ARGS, KEYWORDS)] * 2
    Pemrik.__init__ = lambda self, *args, **keywords: 1 / 0
    for call in (made, lambda: type.__call__(Pemrik, *ARGS, **KEYWORDS), lambda: Pemrik(*ARGS)):
        pytest.raises(ZeroDivisionError, call)
    Pemrik.__new__ = staticmethod(lambda cls, *args, **keywords: seen.append((args, keywords)) or 0)
    assert made() == [0, 0] and seen[2:] == [(ARGS, KEYWORDS)] * 2


def unmade(cls):  # its __new__ replaced by the script's: an instance no constructor made
    cls.__new__ = staticmethod(lambda cls, *args, **keywords: object.__new__(cls))
    return cls.__new__(cls)


def refused(what, call, *args):
    text = f"{what} object was not made by its constructor"
    assert str(pytest.raises(TypeError, call, *args).value) == text


def instances_no_constructor_made():
    request, collection, member = Pemrik(*ARGS), PemrikCollection(), unmade(HTTPMETHOD)
    for call in (repr, str, int):
        refused("HTTPMETHOD", call, member)
    refused("argument 'method': HTTPMETHOD", Pemrik, "u", [], member)
    # the comparison declines it, so the interpreter compares identities
    assert member != GET and not GET == member and member == member and [member, GET].index(GET)
    assert [repr(GET), GET == GET] == ["HTTPMETHOD.GET", True]
    unmade_request = unmade(Pemrik)
    refused("Pemrik", unmade_request.get_request_command)
    refused("argument 'pemrik': Pemrik", collection.add_request, unmade_request)
    refused("argument 'collection': Pemrik", PemrikCollection, [request, unmade_request])
    unmade_collection = unmade(PemrikCollection)
    for call in (unmade_collection.get_collection, unmade_collection.export_collection):
        refused("PemrikCollection", call)
    refused("PemrikCollection", unmade_collection.add_request, request)
    assert lines(request) == curl_line(*ARGS[:2], "PUT", None)
    del unmade_request, unmade_collection, member  # freed like any other
    gc.collect()


def imported_again():  # the same module; a subinterpreter is refused, and this one goes on
    first = sys.modules.pop("pemrik")
    again = __import__("pemrik")
    assert again is first and again.Pemrik is Pemrik and again.HTTPMETHOD.GET is GET
    run = __import__("_testcapi").run_in_subinterp
    assert [run("import pemrik"), run("import pemrik as p")] == [-1, -1]
    assert lines(made()) == [LINE] * 2


@pytest.mark.parametrize("scenario", [init_and_new_assigned, instances_no_constructor_made, imported_again])  # fmt: skip
def test_what_a_script_may_do_to_the_classes(scenario):
    if scenario is imported_again:
        pytest.importorskip("_testcapi")
    child = run_child(f"from behaviour.test_surface import {scenario.__name__} as run; run()")
    assert child.returncode == 0, child.stderr[-3000:]


def test_module_and_classes():
    names = ["Pemrik", "PemrikCollection", "HTTPMETHOD"]
    assert pemrik.__all__ == [k for k in vars(pemrik) if k[:2] != "__"] == names
    assert (type(pemrik.__doc__), pemrik.__doc__) == (str, "")
    assert pemrik.__file__.endswith("/pemrik" + sysconfig.get_config_var("EXT_SUFFIX"))
    nm = subprocess.run(["nm", "-D", "--defined-only", pemrik.__file__], capture_output=True)
    assert nm.stdout.split()[2::3] == [b"PyInit_pemrik"]  # only the entry point is exported
    pytest.raises(TypeError, Pemrik, 5, [], GET)  # the module has raised: its panic class exists
    found = [c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime"]
    assert [c.__qualname__ for c in found] == ["PanicException"] and "Panic" not in str(dir(pemrik))
    for cls in CLASSES:  # the rest of each class: stubtest
        named = cls.__qualname__, cls.__module__, cls.__bases__, repr(cls), cls.__doc__
        assert named == (cls.__name__, "builtins", (object,), f"<class 'builtins.{cls.__name__}'>", None if cls is HTTPMETHOD else "")  # fmt: skip


EMBEDDING = """#include <Python.h>
int main(int argc, char **argv) {  /* runs argv[1] twice, each time in a fresh interpreter */
    for (int run = 0; run < 2; ++run) {
        Py_Initialize();
        if (PyRun_SimpleString(argv[1]) != 0 || Py_FinalizeEx() != 0) return 1;
    }
    return 0;
}
"""
IMPORT = "try:\n    import pemrik\nexcept ImportError as error:\n    print(error)\nelse:\n    print(pemrik.Pemrik('/p', [], pemrik.HTTPMETHOD.GET).get_request_command())\n"  # fmt: skip
REIMPORTED = "pemrik cannot be imported again after the interpreter that imported it was finalized"


def test_imported_again_after_the_interpreter_was_finalised(tmp_path):
    var = sysconfig.get_config_var
    if not var("Py_ENABLE_SHARED") or not shutil.which("cc"):
        pytest.skip("needs a C compiler and the interpreter as a shared library")
    (tmp_path / "embed.c").write_text(EMBEDDING)
    library = ["-L" + var("LIBDIR"), f"-lpython{var('LDVERSION')}", "-Wl,-rpath," + var("LIBDIR")]
    include = "-I" + sysconfig.get_paths()["include"]
    subprocess.run(["cc", include, "embed.c", *library, "-o", "embed"], cwd=tmp_path, check=True)
    env = dict(os.environ, PYTHONHOME=sys.base_prefix, PYTHONPATH=os.path.dirname(pemrik.__file__))
    run = subprocess.run(["./embed", IMPORT], cwd=tmp_path, env=env, capture_output=True, text=True)
    assert (run.returncode, run.stderr) == (0, "")
    assert run.stdout.splitlines() == [curl_line("/p", [], "GET", None), REIMPORTED]
