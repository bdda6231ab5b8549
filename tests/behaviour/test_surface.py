"""The module's surface and every call's outcome: binding, conversions, refusals, results."""

import itertools
import json
import os
import shutil
import subprocess
import sys
import sysconfig
import weakref  # noqa: F401 (the table uses it)

import pytest

import pemrik
from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS as NAMES
from support.cases import lines
from support.child import run_child
from support.hostile import Seq


def own_text(function, *args):  # the interpreter's TypeError text; versions word it differently
    try:
        function(*args)
    except TypeError as e:
        return str(e)
    raise AssertionError(f"{function.__name__}{args} raised no TypeError")


GET, POST = HTTPMETHOD.GET, HTTPMETHOD.POST
A, B = Pemrik("https://a/1", [("X", "1")], POST, ""), Pemrik("https://b/2", [], HTTPMETHOD.PUT)
N, C, ADD = "Pemrik.__new__() ", "PemrikCollection.__new__() ", "PemrikCollection.add_request() "
KW, MULTIPLE = "got an unexpected keyword argument ", "got multiple values for argument "
BAD, H, STR = "ab\udc80", "argument 'headers': ", "Can't extract `str` to `Vec`"
LENGTH = "expected tuple of length 2, but got tuple of length {}"
DESC = "descriptor '{}' for 'builtins.PemrikCollection' objects doesn't apply to a '{}' object"
PASSED = [ValueError("v"), type("TypeErrorSub", (TypeError,), {})("only TypeError is renamed")]
PASSED += [UnicodeEncodeError("utf-8", "x", 0, 1, "why"), KeyboardInterrupt()]
BAD_ITER = type("BadIter", (), {"__getitem__": lambda s, i: ("a", "b"), "__iter__": lambda s: 5})()
LIE = {"__len__": lambda s: 2, "__getitem__": lambda s, i: "lie", "__iter__": lambda s: iter("ll")}
LYING = type("LyingTuple", (tuple,), LIE)(("a", "b", "c"))  # its own length is what counts
StrSub = type("StrSub", (str,), {"__str__": lambda s: "not the content"})
MEMBERS = [getattr(HTTPMETHOD, n) for n in NAMES]
MEMBER_FACTS = [(HTTPMETHOD, *[f"HTTPMETHOD.{n}"] * 3, i, True) for i, n in enumerate(NAMES)]
DECLINED = {(NotImplemented, NotImplemented, False, True)}
OTHERS = "for m in MEMBERS for o in (int(m), int(m) + 0.0, str(m), str(m)[11:], None)}"
conv = "argument '{}': '{}' object cannot be converted to '{}'".format
ARGS = {"url": '"/items"', "headers": '[("A", "1"), ("B", "2")]', "method": "POST", "body": '"x"'}
# every split of the four arguments into positional and keyword ones, in any order
SPLITS = [(p, o) for p in range(5) for o in itertools.permutations(list(ARGS)[p:])]
MIXES = [", ".join([*list(ARGS.values())[:p], *(f"{n}={ARGS[n]}" for n in o)]) for p, o in SPLITS]
MIXED = "; ".join(f"[{f}{m})]" for m in MIXES for f in ("Pemrik(", "Pemrik.__new__(Pemrik, "))
# (expressions parted by "; ", the outcome of each): a str is a TypeError's text; an exception, one
# like it (the very object if in PASSED); an exception type, any of that type; else the result

CALLS = [
    ("Pemrik()", N + "missing 3 required positional arguments: 'url', 'headers', and 'method'"),
    (
        'Pemrik("/u"); Pemrik.__new__(Pemrik, "/u")',
        N + "missing 2 required positional arguments: 'headers' and 'method'",
    ),
    ('Pemrik("/u", [])', N + "missing 1 required positional argument: 'method'"),
    ("Pemrik(headers=[])", N + "missing 2 required positional arguments: 'url' and 'method'"),
    ("c.add_request()", ADD + "missing 1 required positional argument: 'pemrik'"),
    # too many positional arguments: keywords are not looked at
    ('Pemrik(*"123456", x=1)', N + "takes from 3 to 4 positional arguments but 6 were given"),
    ("PemrikCollection(None, None)", C + "takes from 0 to 1 positional arguments but 2 were given"),
    ("c.add_request(A, A, request=A)", ADD + "takes 1 positional arguments but 2 were given"),
    ('Pemrik("/u", [], GET, url="/v")', N + MULTIPLE + "'url'"),
    ("PemrikCollection(0, collection=0)", C + MULTIPLE + "'collection'"),
    ("c.add_request(A, pemrik=A)", ADD + MULTIPLE + "'pemrik'"),
    # keywords are examined in the order given, before the missing check
    ("Pemrik(5, x=1, url=1)", N + KW + "'x'"),
    ("Pemrik(5, url=1, x=1)", N + MULTIPLE + "'url'"),
    ('Pemrik("/u", [], GET, URL="/u")', N + KW + "'URL'"),
    ('Pemrik("/u", [], GET, **{"body\\0": ""})', N + KW + "'body\0'"),
    ("PemrikCollection(collections=None)", C + KW + "'collections'"),
    ("c.add_request(request=A)", ADD + KW + "'request'"),
    ('c.add_request(A, **{"\\udcff": A})', ADD + KW + "'\ufffd\ufffd\ufffd'"),
    ("Pemrik(5, [], GET); Pemrik(5, 5, 5, 5)", conv("url", "int", "PyString")),
    ('Pemrik("/u", "", GET); Pemrik("/u", StrSub("ab"), GET)', H + STR),
    ('Pemrik("/u", {}, GET)', conv("headers", "dict", "Sequence")),
    ('Pemrik("/u", (h for h in []), GET)', conv("headers", "generator", "Sequence")),
    ('Pemrik("/u", [["a", "b"]], GET)', conv("headers", "list", "PyTuple")),
    ('Pemrik("/u", [("a", 1)], GET)', conv("headers", "int", "PyString")),
    ('Pemrik("/u", BAD_ITER, GET)', H + own_text(iter, BAD_ITER)),
    ('Pemrik("/u", b"x", GET)', conv("headers", "int", "PyTuple")),
    # the first bad item ends the conversion: the next one is not read
    ('Pemrik("/u", Seq([("a", "1"), 5, KeyError()]), GET)', conv("headers", "int", "PyTuple")),
    ('Pemrik("/u", [], "GET"); Pemrik("/u", [], "GET", BAD)', conv("method", "str", "HTTPMETHOD")),
    ('Pemrik("/u", [], type("HTTPMETHOD", (), {})())', conv("method", "HTTPMETHOD", "HTTPMETHOD")),
    ('Pemrik("/u", [], A)', conv("method", "Pemrik", "HTTPMETHOD")),
    ('Pemrik("/u", [], GET, 5)', conv("body", "int", "PyString")),
    ('PemrikCollection("")', "argument 'collection': " + STR),
    ("PemrikCollection({A})", conv("collection", "set", "Sequence")),
    ("PemrikCollection([A, 5])", conv("collection", "int", "Pemrik")),
    ("PemrikCollection([GET])", conv("collection", "HTTPMETHOD", "Pemrik")),
    ('PemrikCollection([type("Pemrik", (), {})()])', conv("collection", "Pemrik", "Pemrik")),
    ('c.add_request("x")', conv("pemrik", "str", "Pemrik")),
    ("c.add_request(pemrik=None)", conv("pemrik", "NoneType", "Pemrik")),
    ("c.add_request(c)", conv("pemrik", "PemrikCollection", "Pemrik")),  # while it is borrowed
    ("PemrikCollection.add_request(5, A)", DESC.format("add_request", "int")),
    ('PemrikCollection.export_collection("x")', DESC.format("export_collection", "str")),
    ("c.get_collection(None)", "PemrikCollection.get_collection() takes no arguments (1 given)"),
    ("c.export_collection(x=1)", "PemrikCollection.export_collection() takes no keyword arguments"),
    (  # the interpreter's own error; only the first failure in parameter order is reported
        'Pemrik(BAD, 5, 5, 5); Pemrik("/u", [(BAD, 5)], 5); Pemrik("/u", [("n", BAD)], 5); '
        'Pemrik("/u", [], GET, BAD); Pemrik.__new__(Pemrik, BAD, [], GET)',
        UnicodeEncodeError("utf-8", BAD, 2, 3, "surrogates not allowed"),
    ),
    ('Pemrik("/u", [("a", "b"), ("x",)], 5, 5)', ValueError(LENGTH.format(1))),
    ('Pemrik("/u", [LYING], 5)', ValueError(LENGTH.format(3))),
    # a TypeError is renamed after the argument, with its text made valid
    ('Pemrik("/u", Seq([TypeError("bad\\udc80item")]), GET)', H + "bad\ufffd\ufffd\ufffditem"),
    # what the script's own sequence raises passes unchanged, the very same object
    *[(f'Pemrik("/u", Seq([PASSED[{i}]]), GET)', e) for i, e in enumerate(PASSED)],
    ("HTTPMETHOD(); HTTPMETHOD.__new__(HTTPMETHOD, 0)", "No constructor defined for HTTPMETHOD"),
    (  # TypeError with the interpreter's own text
        "GET < POST; GET >= POST; GET > 0; 0 <= GET; hash(GET); {GET}; [0][GET]; float(GET); "
        "GET + 1; GET | POST; len(GET); iter(GET); GET(); format(GET, 's'); A < B; "
        "A.get_request_command(1); A.get_request_command(x=1); Pemrik.get_request_command(5); "
        "type('S', (Pemrik,), {}); type('S', (PemrikCollection,), {}); type('S', (HTTPMETHOD,), {}); "
        "weakref.ref(A); weakref.ref(c); weakref.ref(GET)",
        TypeError,
    ),
    (  # no field is readable or writable, and there is no instance dictionary
        "A.url; A.headers; A.method; A.body; A.anything; c.collection; GET.value; A.__dict__; "
        "c.__dict__; GET.__dict__; setattr(A, 'url', 1); setattr(c, 'x', 1); setattr(GET, 'name', 1)",
        AttributeError,
    ),
    # the members: their texts, values, equality by identity only, and others declined
    ("[(type(m), repr(m), str(m), format(m, ''), int(m), bool(m)) for m in MEMBERS]", MEMBER_FACTS),
    ("[(m == b) == (m is b) != (m != b) for m in MEMBERS for b in MEMBERS]", [True] * 81),
    ("{(m.__eq__(o), m.__ne__(o), m == o, o != m) " + OTHERS, DECLINED),
    ("PemrikCollection(); PemrikCollection(None); PemrikCollection(collection=None)", None),
    ('PemrikCollection([]); PemrikCollection(collection=()); PemrikCollection(b"")', []),
    ("PemrikCollection((B, A, B))", [B, A, B]),
    ('[Pemrik("/u", b"", **{StrSub("method"): GET})]', ["curl -X GET /u"]),
    (MIXED, ['curl -X POST /items -H "A: 1" -H "B: 2" -d \'x\'']),
]


@pytest.mark.parametrize("expressions, expected", CALLS)
def test_outcome(expressions, expected):
    expected = TypeError(expected) if isinstance(expected, str) else expected
    if isinstance(expected, BaseException) and expected not in PASSED:  # one like it
        expected = (type(expected), expected.args)
    for expression, start in itertools.product(expressions.split("; "), [None, [], [A, B]]):
        c = PemrikCollection(start)  # a failed call leaves it as it was
        before = lines(c), c.export_collection()
        try:
            got = lines(eval(expression))
        except BaseException as e:
            got, renamed = e, type(e) is TypeError and str(e).startswith("argument '")
            assert (e.__cause__, e.__context__, e.__suppress_context__) == (None, None, renamed)
            assert (lines(c), c.export_collection()) == before
            got = {type: type(e), tuple: (type(e), e.args)}.get(type(expected), e)
        assert got is expected or got == lines(expected)
        c.add_request(B)  # every borrow was released: the exclusive one can be taken


def test_renamed_type_error_keeps_the_cause(monkeypatch):
    monkeypatch.setattr(sys, "unraisablehook", (unraisable := []).append)
    caught = TypeError(type("Unprintable", (), {"__str__": lambda s: 1 / 0})())
    caught.__cause__ = KeyError("k")
    with pytest.raises(TypeError) as info:
        Pemrik("/u", headers := Seq([("a", "1"), caught, ("c", "3")]), GET)
    e = info.value  # the first bad item ends the reading: no item is read twice or past it
    assert type(e) is TypeError and str(e) == H + "<unprintable TypeError object>"
    assert (e.__cause__, e.__context__, e.__suppress_context__) == (caught.__cause__, None, True)
    assert headers.read == [0, 1] and [u.exc_type for u in unraisable] == [ZeroDivisionError]


CHILD = """
import gc, json, sys, types
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection
A, K, seen, C = ("https://h/p", [("A", "b")], M.PUT), {{"body": "x"}}, [], PemrikCollection()
R, Z, out = Pemrik(*A, **K), types.SimpleNamespace(), []
{setup}
for expr in {exprs!r}:
    try: v = eval(expr); out.append(v.get_request_command() if type(v) is Pemrik else v)
    except Exception as e: out.append([type(e).__name__, str(e)])
print(json.dumps(out, default=repr))
del Z; gc.collect()  # instances no constructor made are freed too
"""
LINE, ZERO = "curl -X PUT https://h/p -H \"A: b\" -d 'x'", ["ZeroDivisionError", "division by zero"]
CALL = "Pemrik(*A, **K); type.__call__(Pemrik, *A, **K)"
INIT = "Pemrik.__init__ = lambda s, *a, **k: "
NEW = "{}.__new__ = staticmethod(lambda c, *a, **k: {})\n"


def bypass(*cs):  # each class's __new__ replaced; Z.<class> an instance no constructor made
    return "".join(f"{NEW.format(c, 'object.__new__(c)')}Z.{c} = {c}.__new__({c})\n" for c in cs)


def unmade(cls, argument=""):
    return ["TypeError", argument + f"{cls} object was not made by its constructor"]


SCRIPTED = {  # what the script did: expressions and their outcomes
    INIT + "seen.append((a, k) == (A, K))": {CALL: LINE, "seen": [True] * 2},
    INIT + "1 / 0": {CALL + "; Pemrik(*A)": ZERO},  # with keywords and without
    NEW.format("Pemrik", "seen.append((a, k) == (A, K)) or 0"): {CALL: 0, "seen": [True] * 2},
    bypass("Pemrik"): {
        CALL + "; Z.Pemrik.get_request_command()": unmade("Pemrik"),
        "C.add_request(Z.Pemrik)": unmade("Pemrik", "argument 'pemrik': "),
        "PemrikCollection([R, Z.Pemrik])": unmade("Pemrik", "argument 'collection': "),
    },
    bypass("PemrikCollection", "M"): {
        CALL: LINE,
        "Z.PemrikCollection.add_request(R); Z.PemrikCollection.get_collection(); "
        "Z.PemrikCollection.export_collection()": unmade("PemrikCollection"),
        "repr(Z.M); str(Z.M); int(Z.M)": unmade("HTTPMETHOD"),
        # the comparison declines it, so the interpreter compares identities
        "[Z.M == M.GET, M.GET != Z.M, Z.M == Z.M, M.GET in [Z.M, M.GET], [Z.M, M.GET].index(M.GET)]": [
            False,
            True,
            True,
            True,
            1,
        ],
        'Pemrik("u", [], Z.M)': unmade("HTTPMETHOD", "argument 'method': "),
        "[repr(M.GET), int(M.CONNECT), M.GET == M.GET]": ["HTTPMETHOD.GET", 8, True],
    },
    # imported again: the same module; by a subinterpreter: refused, and this one still works
    "import _testcapi, pemrik\nfirst = sys.modules.pop('pemrik')\nimport pemrik\n": {
        "[pemrik is first, pemrik.Pemrik is Pemrik, pemrik.HTTPMETHOD.GET is M.GET]": [True] * 3,
        "_testcapi.run_in_subinterp('import pemrik'); _testcapi.run_in_subinterp('import pemrik as p')": -1,
        "R": LINE,
    },
}


@pytest.mark.parametrize("setup, outcomes", SCRIPTED.items(), ids=range(len(SCRIPTED)))
def test_calls_honour_what_the_script_did(setup, outcomes):
    outcomes = {e: out for group, out in outcomes.items() for e in group.split("; ")}
    pytest.importorskip("_testcapi") if "_testcapi" in setup else None
    child = run_child(CHILD.format(setup=setup, exprs=list(outcomes)))
    assert child.returncode == 0, child.stderr[-3000:]
    assert json.loads(child.stdout) == list(outcomes.values())


def test_module_object():
    names = ["Pemrik", "PemrikCollection", "HTTPMETHOD"]
    assert pemrik.__all__ == [k for k in vars(pemrik) if k[:2] != "__"] == names
    assert (type(pemrik.__doc__), pemrik.__doc__) == (str, "")
    assert pemrik.__file__.endswith("/pemrik" + sysconfig.get_config_var("EXT_SUFFIX"))
    nm = subprocess.run(["nm", "-D", "--defined-only", pemrik.__file__], capture_output=True)
    assert nm.stdout.split()[2::3] == [b"PyInit_pemrik"]  # only the entry point is exported
    pytest.raises(TypeError, Pemrik, 5, [], GET)  # the module has raised: its panic class exists
    found = [c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime"]
    assert [c.__qualname__ for c in found] == ["PanicException"] and "Panic" not in str(dir(pemrik))


EMBEDDING = r"""
#include <Python.h>
int main(void) {  /* the module imported, the interpreter finalised, then both again */
    for (int run = 0; run < 2; ++run) {
        Py_Initialize();
        if (PyRun_SimpleString("try:\n    import pemrik\n    print(pemrik.Pemrik('/p', [], "
                               "pemrik.HTTPMETHOD.GET).get_request_command())\n"
                               "except ImportError as e:\n    print(e)\n") != 0 ||
            Py_FinalizeEx() != 0)
            return 1;
    }
    return 0;
}
"""


def test_imported_again_after_the_interpreter_was_finalised(tmp_path):
    var = sysconfig.get_config_var
    if not var("Py_ENABLE_SHARED") or not shutil.which("cc"):
        pytest.skip("needs a C compiler and the interpreter as a shared library")
    (tmp_path / "embed.c").write_text(EMBEDDING)
    library = ["-L" + var("LIBDIR"), f"-lpython{var('LDVERSION')}", "-Wl,-rpath," + var("LIBDIR")]
    include = "-I" + sysconfig.get_paths()["include"]
    subprocess.run(["cc", include, "embed.c", *library, "-o", "embed"], cwd=tmp_path, check=True)
    env = dict(os.environ, PYTHONHOME=sys.base_prefix, PYTHONPATH=os.path.dirname(pemrik.__file__))
    run = subprocess.run(["./embed"], cwd=tmp_path, env=env, capture_output=True, text=True)
    assert (run.returncode, run.stderr) == (0, "")
    assert run.stdout.splitlines() == [
        "curl -X GET /p",
        "pemrik cannot be imported again after the interpreter that imported it was finalized",
    ]


@pytest.mark.parametrize("cls, doc", [(Pemrik, ""), (PemrikCollection, ""), (HTTPMETHOD, None)])
def test_class_description(cls, doc):  # signatures and attributes: the stubs' stubtest
    assert (cls.__qualname__, cls.__module__, cls.__bases__) == (
        cls.__name__,
        "builtins",
        (object,),
    )
    assert repr(cls) == f"<class 'builtins.{cls.__name__}'>" and cls.__doc__ == doc
