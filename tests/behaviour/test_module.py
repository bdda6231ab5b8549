"""The module object, its three classes, HTTPMETHOD members and the Pemrik object surface."""

import contextlib
import itertools
import operator
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

CLASSES = [Pemrik, PemrikCollection, HTTPMETHOD]
MEMBERS = [getattr(HTTPMETHOD, n) for n in NAMES]
GET, POST = HTTPMETHOD.GET, HTTPMETHOD.POST
# type.__flags__ bits: heap type; base type, GC, immutable, managed dict, managed weakref.
HEAPTYPE, UNWANTED = 1 << 9, (1 << 10) | (1 << 14) | (1 << 8) | (1 << 4) | (1 << 3)


def test_module_object():
    assert pemrik.__doc__ == "" and type(pemrik.__doc__) is str
    assert (
        pemrik.__all__ == ["Pemrik", "PemrikCollection", "HTTPMETHOD"]
        and type(pemrik.__all__) is list
    )
    assert [k for k in vars(pemrik) if not k.startswith("__")] == pemrik.__all__
    assert [getattr(pemrik, n) for n in pemrik.__all__] == CLASSES
    assert os.path.basename(pemrik.__file__) == "pemrik" + sysconfig.get_config_var("EXT_SUFFIX")


@pytest.mark.parametrize(
    "cls, doc, signature, own, instance",
    [
        (
            Pemrik,
            "",
            "(url, headers, method, body=None)",
            {"get_request_command": "($self)"},
            Pemrik("/u", [], GET),
        ),
        (
            PemrikCollection,
            "",
            "(collection=None)",
            {
                "add_request": "($self, pemrik)",
                "get_collection": "($self)",
                "export_collection": "($self)",
            },
            PemrikCollection(),
        ),
        (HTTPMETHOD, None, None, dict.fromkeys(NAMES), POST),
    ],
    ids=lambda v: getattr(v, "__name__", ""),
)
def test_class_description(cls, doc, signature, own, instance):
    name = cls.__name__
    assert (cls.__qualname__, cls.__module__, repr(cls)) == (
        name,
        "builtins",
        f"<class 'builtins.{name}'>",
    )
    assert cls.__bases__ == (object,) and cls.__doc__ == doc and cls.__text_signature__ == signature
    assert [k for k in vars(cls) if not k.startswith("__")] == list(own)
    for k, sig in own.items():
        if sig:
            assert (getattr(cls, k).__text_signature__, getattr(cls, k).__doc__) == (sig, None)
    assert cls.__flags__ & HEAPTYPE and not cls.__flags__ & UNWANTED
    assert (
        cls.__dictoffset__ == 0 and cls.__weakrefoffset__ == 0 and not hasattr(instance, "__dict__")
    )
    for refused, error in [
        (lambda: type("Sub", (cls,), {}), TypeError),
        (lambda: weakref.ref(instance), TypeError),
        (lambda: setattr(instance, "anything", 1), AttributeError),
    ]:
        with pytest.raises(error):
            refused()


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
        print(_testcapi.run_in_subinterp("import pemrik"))
        print(_testcapi.run_in_subinterp("import pemrik"))
        print(pemrik.Pemrik("/x", [], pemrik.HTTPMETHOD.GET).get_request_command())
    """)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == ["-1", "-1", "curl -X GET /x"]
    errors = [line for line in child.stderr.splitlines() if line.startswith("ImportError: ")]
    assert len(errors) == 2 and all("sub-interpreters" in line for line in errors)


def test_refcounts_of_classes_and_members_unchanged():
    def churn():
        for _ in range(300):
            request = Pemrik("/u", [("a", "b")], HTTPMETHOD.PUT, "body")
            collection = PemrikCollection([request, request])
            collection.add_request(request)
            collection.get_collection()
            [(repr(m), int(m), m == GET, m != 0) for m in MEMBERS]
            for bad in (lambda: Pemrik(5, [], GET), HTTPMETHOD, lambda: PemrikCollection([5])):
                with contextlib.suppress(TypeError):
                    bad()

    churn()  # warm interpreter caches first
    before = [sys.getrefcount(o) for o in CLASSES + MEMBERS]
    churn()
    assert [sys.getrefcount(o) for o in CLASSES + MEMBERS] == before


def test_exports_only_the_entry_point():
    out = subprocess.run(
        ["nm", "-D", "--defined-only", pemrik.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in out.splitlines() if line.strip()] == ["PyInit_pemrik"]


def test_panic_exception_is_hidden_and_derives_from_base_exception():
    with pytest.raises(TypeError):
        Pemrik(5, [], GET)  # the class exists once the module has raised
    assert not [n for n in dir(pemrik) if "Panic" in n]
    found = [c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime"]
    assert [(c.__qualname__, c.__bases__) for c in found] == [("PanicException", (BaseException,))]
    assert found[0].__doc__


# HTTPMETHOD


@pytest.mark.parametrize("value, m", list(enumerate(MEMBERS)), ids=NAMES)
def test_member_texts_value_and_equality(value, m):
    assert type(m) is HTTPMETHOD and m is vars(HTTPMETHOD)[NAMES[value]]
    for text in (repr(m), str(m), format(m, ""), f"{m}"):
        assert type(text) is str and text == f"HTTPMETHOD.{NAMES[value]}"
    assert type(int(m)) is int and int(m) == value and bool(m) is True
    for b in MEMBERS:
        assert (m == b) is (m is b) and (m != b) is (m is not b)
    assert MEMBERS.index(m) == value and HTTPMETHOD.__hash__ is None
    # Against anything else the comparison declines and identity decides.
    for other in (value, float(value), str(m), NAMES[value], None):
        assert m.__eq__(other) is NotImplemented and m.__ne__(other) is NotImplemented
        assert (m == other) is False and (other != m) is True


UNSUPPORTED = {
    "lt": lambda m: m < POST,
    "ge": lambda m: m >= POST,
    "gt int": lambda m: m > 0,
    "rev le": lambda m: 0 <= m,
    "hash": hash,
    "set": lambda m: {m},
    "index": operator.index,
    "list index": lambda m: [0, 1][m],
    "float": float,
    "add": lambda m: m + 1,
    "or": lambda m: m | POST,
    "len": len,
    "iter": iter,
    "call": lambda m: m(),
    "format spec": lambda m: format(m, "s"),
}


@pytest.mark.parametrize("use", UNSUPPORTED.values(), ids=UNSUPPORTED)
def test_unsupported_uses(use):
    with pytest.raises(TypeError):
        use(GET)


def test_no_constructor():
    for args, kwargs in [((), {}), (("GET",), {}), ((0,), {}), ((), {"value": 0})]:
        for make in (HTTPMETHOD, lambda *a, **k: HTTPMETHOD.__new__(HTTPMETHOD, *a, **k)):
            with pytest.raises(TypeError) as info:
                make(*args, **kwargs)
            assert (
                type(info.value) is TypeError
                and str(info.value) == "No constructor defined for HTTPMETHOD"
            )


# Pemrik

FIELDS = {"url": "/items", "headers": [("A", "1"), ("B", "2")], "method": POST, "body": "x"}
EXPECTED = """curl -X POST /items -H "A: 1" -H "B: 2" -d 'x'"""


def test_any_mix_of_positional_and_keyword_arguments():
    names = list(FIELDS)
    for positional in range(5):
        args = [FIELDS[n] for n in names[:positional]]
        for order in itertools.permutations(names[positional:]):
            assert Pemrik(*args, **{n: FIELDS[n] for n in order}).get_request_command() == EXPECTED
    assert (
        Pemrik.__new__(
            Pemrik, "/items", FIELDS["headers"], body="x", method=POST
        ).get_request_command()
        == EXPECTED
    )


def test_request_is_a_deep_copy_and_has_no_fields():
    headers = [("A", "1"), ("B", "2")]
    request = Pemrik("/u", headers, GET, "b")
    headers.append(("C", "3"))
    headers[0] = ("Z", "9")
    expected = """curl -X GET /u -H "A: 1" -H "B: 2" -d 'b'"""
    assert request.get_request_command() == request.get_request_command() == expected
    for name in ("url", "headers", "method", "body"):
        assert not hasattr(request, name)
        with pytest.raises(AttributeError):
            setattr(request, name, "x")
    assert request.get_request_command() == expected


def test_identity_comparison_and_no_method_arguments():
    a, b = Pemrik("/u", [], GET), Pemrik("/u", [], GET)
    assert a == a and a != b and len({a, b}) == 2
    for call in (
        lambda: a < b,
        lambda: a.get_request_command(1),
        lambda: a.get_request_command(x=1),
        lambda: Pemrik.get_request_command(5),
        Pemrik.get_request_command,
    ):
        with pytest.raises(TypeError):
            call()
