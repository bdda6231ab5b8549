"""The module, its classes and their members' surface, and every call's outcome: argument
binding, conversions, refused uses and accepted forms."""

import itertools
import json
import operator  # noqa: F401 (the table's expressions use it)
import os
import subprocess
import sys
import sysconfig
import weakref

import pytest

import pemrik
from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS as NAMES
from support.child import run_child
from support.hostile import Seq

GET, POST = HTTPMETHOD.GET, HTTPMETHOD.POST
A, B = Pemrik("https://a/1", [("X", "1")], POST, ""), Pemrik("https://b/2", [], HTTPMETHOD.PUT)
N, C, ADD = "Pemrik.__new__() ", "PemrikCollection.__new__() ", "PemrikCollection.add_request() "
KW, MULTIPLE = "got an unexpected keyword argument ", "got multiple values for argument "
BAD, H, STR = "ab\udc80", "argument 'headers': ", "Can't extract `str` to `Vec`"
UEE = UnicodeEncodeError("utf-8", BAD, 2, 3, "surrogates not allowed")  # the interpreter's own
LENGTH = "expected tuple of length 2, but got tuple of length {}"
DESC = "descriptor '{}' for 'builtins.PemrikCollection' objects doesn't apply to a '{}' object"
PASSED = [ValueError("v"), type("TypeErrorSub", (TypeError,), {})("only TypeError is renamed")]
PASSED += [UnicodeEncodeError("utf-8", "x", 0, 1, "why"), KeyboardInterrupt()]
BAD_ITER = type("BadIter", (), {"__getitem__": lambda s, i: ("a", "b"), "__iter__": lambda s: 5})()
LIE = {"__len__": lambda s: 2, "__getitem__": lambda s, i: "lie", "__iter__": lambda s: iter("ll")}
LYING = type("LyingTuple", (tuple,), LIE)(("a", "b", "c"))
StrSub = type("StrSub", (str,), {"__str__": lambda s: "not the content"})
CLASSES = [Pemrik, PemrikCollection, HTTPMETHOD]
MEMBERS = [getattr(HTTPMETHOD, n) for n in NAMES]
# type.__flags__ bits: heap type; base type, GC, immutable, managed dict, managed weakref.
HEAPTYPE, UNWANTED = 1 << 9, (1 << 10) | (1 << 14) | (1 << 8) | (1 << 4) | (1 << 3)


def conv(argument, source, target):
    return f"argument '{argument}': '{source}' object cannot be converted to '{target}'"


FIELDS = {"url": '"/items"', "headers": '[("A", "1"), ("B", "2")]', "method": "POST", "body": '"x"'}
MIXES = [
    list(FIELDS.values())[:p] + [f"{n}={FIELDS[n]}" for n in order]
    for p in range(5)
    for order in itertools.permutations(list(FIELDS)[p:])
]
MIXED = ['curl -X POST /items -H "A: 1" -H "B: 2" -d \'x\'']
# (expressions parted by "; ", the outcome of each): a str is a TypeError's text; an exception, one
# like it (the very object if in PASSED); an exception type, any of that type; else the result

CALLS = [
    ("Pemrik()", N + "missing 3 required positional arguments: 'url', 'headers', and 'method'"),
    ('Pemrik("/u")', N + "missing 2 required positional arguments: 'headers' and 'method'"),
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
    ('Pemrik("/u", BAD_ITER, GET)', H + "iter() returned non-iterator of type 'int'"),
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
    # only the first failure in parameter order is reported
    ('Pemrik(BAD, 5, 5, 5); Pemrik("/u", [("n", BAD)], 5); Pemrik("/u", [], GET, BAD)', UEE),
    ('Pemrik("/u", [("a", "b"), ("x",)], 5, 5)', ValueError(LENGTH.format(1))),
    ('Pemrik("/u", [LYING], 5)', ValueError(LENGTH.format(3))),
    # a TypeError is renamed after the argument, with its text made valid
    ('Pemrik("/u", Seq([TypeError("bad\\udc80item")]), GET)', H + "bad\ufffd\ufffd\ufffditem"),
    # what the script's own sequence raises passes unchanged, the very same object
    *[(f'Pemrik("/u", Seq([PASSED[{i}]]), GET)', e) for i, e in enumerate(PASSED)],
    (
        'HTTPMETHOD(); HTTPMETHOD("GET"); HTTPMETHOD(0); HTTPMETHOD(value=0); '
        'HTTPMETHOD.__new__(HTTPMETHOD); HTTPMETHOD.__new__(HTTPMETHOD, "GET"); '
        "HTTPMETHOD.__new__(HTTPMETHOD, 0); HTTPMETHOD.__new__(HTTPMETHOD, value=0)",
        "No constructor defined for HTTPMETHOD",
    ),
    (  # TypeError with the interpreter's own text
        "GET < POST; GET >= POST; GET > 0; 0 <= GET; hash(GET); {GET}; operator.index(GET); "
        "[0][GET]; float(GET); GET + 1; GET | POST; len(GET); iter(GET); GET(); format(GET, 's'); "
        "A < B; A.get_request_command(1); A.get_request_command(x=1); "
        "Pemrik.get_request_command(5); Pemrik.get_request_command()",
        TypeError,
    ),
    ("PemrikCollection(); PemrikCollection(None); PemrikCollection(collection=None)", None),
    ('PemrikCollection([]); PemrikCollection(collection=()); PemrikCollection(b"")', []),
    ("PemrikCollection((B, A, B))", [B, A, B]),
    ('[Pemrik("/u", b"", **{StrSub("method"): GET})]', ["curl -X GET /u"]),
    # every split of the four arguments into positional and keyword ones, in any order
    ("; ".join(f"[Pemrik({', '.join(mix)})]" for mix in MIXES), MIXED),
    ('[Pemrik.__new__(Pemrik, "/items", [("A", "1"), ("B", "2")], body="x", method=POST)]', MIXED),
]


def outcome(value):
    if isinstance(value, PemrikCollection):
        value = value.get_collection()
    if isinstance(value, Pemrik):
        return value.get_request_command()
    return [outcome(v) for v in value] if isinstance(value, list) else value


@pytest.mark.parametrize("expressions, expected", CALLS)
def test_outcome(expressions, expected):
    expected = TypeError(expected) if isinstance(expected, str) else expected
    for expression, start in itertools.product(expressions.split("; "), [None, [], [A, B]]):
        c = PemrikCollection(start)  # a failed call leaves it as it was
        before = outcome(c), c.export_collection()
        try:
            got = outcome(eval(expression))
        except BaseException as e:
            got, renamed = e, type(e) is TypeError and str(e).startswith("argument '")
            assert (e.__cause__, e.__context__, e.__suppress_context__) == (None, None, renamed)
            assert (outcome(c), c.export_collection()) == before
        if expected in PASSED:
            assert got is expected
        elif isinstance(expected, type):
            assert type(got) is expected
        elif isinstance(expected, BaseException):
            assert (type(got), got.args) == (type(expected), expected.args)
        else:
            assert got == outcome(expected)
        c.add_request(B)  # every borrow was released: the exclusive one can be taken


def test_renamed_type_error_keeps_the_cause(monkeypatch):
    monkeypatch.setattr(sys, "unraisablehook", (unraisable := []).append)
    caught = TypeError(type("Unprintable", (), {"__str__": lambda s: 1 / 0})())
    caught.__cause__ = KeyError("k")
    with pytest.raises(TypeError) as info:
        Pemrik("/u", headers := Seq([("a", "1"), caught, ("c", "3")]), GET)
    e = info.value  # the first bad item ends the reading: no item is read twice or past it
    assert type(e) is TypeError and str(e) == H + "<unprintable TypeError object>"
    assert headers.read == [0, 1]
    assert e.__cause__ is caught.__cause__ and e.__suppress_context__ and not e.__context__
    assert [(h.exc_type, h.object) for h in unraisable] == [(ZeroDivisionError, caught)]


CHILD = """
import gc, json, types
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection
A, K, seen, C = ("https://h/p", [("A", "b")], M.PUT), {{"body": "x"}}, [], PemrikCollection()
R, Z = Pemrik(*A, **K), types.SimpleNamespace()
def outcome(expr):
    try:
        v = eval(expr)
        return v.get_request_command() if type(v) is Pemrik else v
    except Exception as e:
        return [type(e).__name__, str(e)]
{setup}
print(json.dumps([outcome(e) for e in {exprs!r}], default=repr))
del Z
gc.collect()
"""
LINE = "curl -X PUT https://h/p -H \"A: b\" -d 'x'"
ZERO = ["ZeroDivisionError", "division by zero"]
ARGS = [["https://h/p", [["A", "b"]], "HTTPMETHOD.PUT"], {"body": "x"}]
NEW = "{}.__new__ = staticmethod(lambda c, *a, **k: {})\n"


def bypass(*classes):  # each class's __new__ replaced; Z.<class> an instance no constructor made
    return "".join(
        NEW.format(c, "object.__new__(c)") + f"Z.{c} = object.__new__({c})\n" for c in classes
    )


def unmade(cls, prefix=""):
    return ["TypeError", f"{prefix}{cls} object was not made by its constructor"]


UNMADE = {  # with an instance no constructor made
    "Z.Pemrik.get_request_command()": unmade("Pemrik"),
    "C.add_request(Z.Pemrik)": unmade("Pemrik", "argument 'pemrik': "),
    "PemrikCollection([R, Z.Pemrik])": unmade("Pemrik", "argument 'collection': "),
}
UNMADE_C_M = {
    "Z.PemrikCollection.add_request(R); Z.PemrikCollection.get_collection(); "
    "Z.PemrikCollection.export_collection()": unmade("PemrikCollection"),
    "repr(Z.M); str(Z.M); int(Z.M); Z.M == M.GET; M.GET == Z.M; Z.M != 0": unmade("HTTPMETHOD"),
    'Pemrik("u", [], Z.M)': unmade("HTTPMETHOD", "argument 'method': "),
    "[repr(M.GET), int(M.CONNECT), M.GET == M.GET]": ["HTTPMETHOD.GET", 8, True],
}


# what the script assigned; what calling Pemrik gives and what its __init__ or __new__ saw
@pytest.mark.parametrize(
    "setup, result, saw, more",
    [
        ("", LINE, [], {}),
        ("Pemrik.__init__ = lambda self, *a, **k: seen.append([list(a), k])", LINE, [ARGS], {}),
        ("Pemrik.__init__ = lambda self, *a, **k: 1 / 0", ZERO, [], {}),
        (NEW.format("Pemrik", "seen.append([list(a), k]) or 'other'"), "other", [ARGS], {}),
        (bypass("Pemrik"), unmade("Pemrik"), [], UNMADE),
        (bypass("PemrikCollection", "M"), LINE, [], UNMADE_C_M),
    ],
)
def test_calls_honour_what_the_script_assigned_to_the_classes(setup, result, saw, more):
    more = {e: out for group, out in more.items() for e in group.split("; ")}
    exprs = ["Pemrik(*A, **K)", "seen[:]", "type.__call__(Pemrik, *A, **K)", "seen[:]", *more]
    child = run_child(CHILD.format(setup=setup, exprs=exprs))
    assert child.returncode == 0, child.stderr[-3000:]
    assert json.loads(child.stdout) == [result, saw, result, saw * 2, *more.values()]


def test_module_object():
    assert pemrik.__doc__ == "" and type(pemrik.__doc__) is str and type(pemrik.__all__) is list
    assert pemrik.__all__ == [k for k in vars(pemrik) if not k.startswith("__")]
    assert [getattr(pemrik, n) for n in pemrik.__all__] == CLASSES
    assert os.path.basename(pemrik.__file__) == "pemrik" + sysconfig.get_config_var("EXT_SUFFIX")
    nm = ["nm", "-D", "--defined-only", pemrik.__file__]  # only the entry point is exported
    out = subprocess.run(nm, capture_output=True, text=True, check=True).stdout.split("\n")
    assert [line.split()[-1] for line in out if line.strip()] == ["PyInit_pemrik"]
    # the panic exception exists once the module has raised, derives from BaseException, is hidden
    with pytest.raises(TypeError):
        Pemrik(5, [], GET)
    found = [c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime"]
    assert [(c.__qualname__, c.__bases__) for c in found] == [("PanicException", (BaseException,))]
    assert found[0].__doc__ and not [n for n in dir(pemrik) if "Panic" in n]


@pytest.mark.parametrize(
    "cls, signature, own",
    [
        (Pemrik, "(url, headers, method, body=None)", "get_request_command"),
        (PemrikCollection, "(collection=None)", "add_request get_collection export_collection"),
        (HTTPMETHOD, None, " ".join(NAMES)),  # no constructor, no methods: members
    ],
    ids=lambda v: getattr(v, "__name__", ""),
)
def test_class_description(cls, signature, own):
    own = own.split()
    instance = {Pemrik: Pemrik("/u", [], GET), PemrikCollection: PemrikCollection()}.get(cls, GET)
    name, doc = cls.__name__, None if signature is None else ""
    assert cls.__qualname__ == name and repr(cls) == f"<class 'builtins.{name}'>"
    assert (cls.__module__, cls.__bases__, cls.__doc__) == ("builtins", (object,), doc)
    assert cls.__text_signature__ == signature and [k for k in vars(cls) if k[:2] != "__"] == own
    for method in map(vars(cls).get, own if signature else []):
        sig = "($self, pemrik)" if method.__name__ == "add_request" else "($self)"
        assert (method.__text_signature__, method.__doc__) == (sig, None)
    assert cls.__flags__ & HEAPTYPE and not cls.__flags__ & UNWANTED
    assert cls.__dictoffset__ == cls.__weakrefoffset__ == 0 and not hasattr(instance, "__dict__")
    for refused in (lambda: type("Sub", (cls,), {}), lambda: weakref.ref(instance)):
        with pytest.raises(TypeError):
            refused()
    for field in ("anything", "url", "headers", "method", "body"):  # and no field is readable
        assert not hasattr(instance, field)
        with pytest.raises(AttributeError):
            setattr(instance, field, 1)


def test_reimport_gives_the_same_module_and_classes():
    first = sys.modules.pop("pemrik")
    try:
        import pemrik as again

        assert again is first and [getattr(again, c.__name__) for c in CLASSES] == CLASSES
        assert again.HTTPMETHOD.GET is GET
    finally:
        sys.modules["pemrik"] = first


def test_second_interpreter_import_fails():
    pytest.importorskip("_testcapi")
    child = run_child("""
        import pemrik, _testcapi
        print(_testcapi.run_in_subinterp("import pemrik"), _testcapi.run_in_subinterp("import pemrik"))
        print(pemrik.Pemrik("/x", [], pemrik.HTTPMETHOD.GET).get_request_command())
    """)
    assert child.returncode == 0 and child.stdout.splitlines() == ["-1 -1", "curl -X GET /x"]
    errors = [line for line in child.stderr.splitlines() if line.startswith("ImportError: ")]
    assert len(errors) == 2 and all("sub-interpreters" in line for line in errors)


@pytest.mark.parametrize("value, m", list(enumerate(MEMBERS)), ids=NAMES)
def test_member_texts_value_and_equality(value, m):
    assert type(m) is HTTPMETHOD and m is vars(HTTPMETHOD)[NAMES[value]]
    for text in (repr(m), str(m), format(m, ""), f"{m}"):
        assert type(text) is str and text == f"HTTPMETHOD.{NAMES[value]}"
    assert type(int(m)) is int and int(m) == value and bool(m) is True and m.__hash__ is None
    assert [m == b for b in MEMBERS] == [b is m for b in MEMBERS] == [not (m != b) for b in MEMBERS]
    for other in (value, float(value), str(m), NAMES[value], None):  # declines: identity decides
        assert m.__eq__(other) is NotImplemented and m.__ne__(other) is NotImplemented
        assert (m == other) is False and (other != m) is True


def test_request_is_a_copy_compared_by_identity():
    headers = [("A", "1"), ("B", "2")]
    a, b = Pemrik("/u", headers, GET, "b"), Pemrik("/u", [], GET)
    headers.append(("C", "3"))
    headers[0] = ("Z", "9")
    line = 'curl -X GET /u -H "A: 1" -H "B: 2" -d \'b\''
    assert a.get_request_command() == a.get_request_command() == line
    assert a == a and a != b and len({a, b}) == 2
