"""The module object and its three classes as scripts see them."""

import os
import subprocess
import sys
import sysconfig
import weakref

import pytest

import pemrik
from conftest import run_child
from pemrik import HTTPMETHOD, Pemrik, PemrikCollection

CLASSES = [Pemrik, PemrikCollection, HTTPMETHOD]
MEMBERS = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]

# Bits of type.__flags__ (Include/object.h).
HEAPTYPE = 1 << 9
BASETYPE = 1 << 10
HAVE_GC = 1 << 14
IMMUTABLETYPE = 1 << 8
MANAGED_DICT = 1 << 4
MANAGED_WEAKREF = 1 << 3


def test_module_object():
    assert pemrik.__name__ == "pemrik"
    assert pemrik.__doc__ == ""
    assert type(pemrik.__doc__) is str
    assert pemrik.__all__ == ["Pemrik", "PemrikCollection", "HTTPMETHOD"]
    assert type(pemrik.__all__) is list
    # The classes are the only public names, set in registration order.
    assert [k for k in vars(pemrik) if not k.startswith("__")] == pemrik.__all__
    assert [getattr(pemrik, n) for n in pemrik.__all__] == CLASSES
    assert os.path.basename(pemrik.__file__) == "pemrik" + sysconfig.get_config_var("EXT_SUFFIX")


@pytest.mark.parametrize(
    "cls, name, doc, signature, own",
    [
        (Pemrik, "Pemrik", "", "(url, headers, method, body=None)", ["get_request_command"]),
        (PemrikCollection, "PemrikCollection", "", "(collection=None)",
         ["add_request", "get_collection", "export_collection"]),
        (HTTPMETHOD, "HTTPMETHOD", None, None, MEMBERS),
    ],
)
def test_class_description(cls, name, doc, signature, own):
    assert (cls.__name__, cls.__qualname__, cls.__module__) == (name, name, "builtins")
    assert repr(cls) == f"<class 'builtins.{name}'>"
    assert cls.__bases__ == (object,)
    assert cls.__doc__ == doc
    assert cls.__text_signature__ == signature
    # Methods (or, for HTTPMETHOD, the members) in table order; nothing else public.
    assert [k for k in vars(cls) if not k.startswith("__")] == own
    flags = cls.__flags__
    assert flags & HEAPTYPE
    assert not flags & (BASETYPE | HAVE_GC | IMMUTABLETYPE | MANAGED_DICT | MANAGED_WEAKREF)
    assert cls.__dictoffset__ == 0 and cls.__weakrefoffset__ == 0
    assert "__dict__" not in vars(cls) and "__weakref__" not in vars(cls)


@pytest.mark.parametrize(
    "method, signature",
    [
        (Pemrik.get_request_command, "($self)"),
        (PemrikCollection.add_request, "($self, pemrik)"),
        (PemrikCollection.get_collection, "($self)"),
        (PemrikCollection.export_collection, "($self)"),
    ],
)
def test_method_description(method, signature):
    assert method.__text_signature__ == signature
    assert method.__doc__ is None


def test_members_are_set_in_order_and_are_the_only_instances():
    assert [k for k in vars(HTTPMETHOD) if k.isupper()] == MEMBERS
    for name in MEMBERS:
        member = getattr(HTTPMETHOD, name)
        assert type(member) is HTTPMETHOD
        assert member is vars(HTTPMETHOD)[name]


def instances():
    return [Pemrik("/u", [], HTTPMETHOD.GET), PemrikCollection(), HTTPMETHOD.POST]


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_not_subclassable(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        exec("class Sub(cls): pass", {"cls": cls})


@pytest.mark.parametrize("obj", instances(), ids=lambda o: type(o).__name__)
def test_instances_have_no_dict_and_no_weakrefs(obj):
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


def test_reimport_gives_the_same_module_and_classes():
    first = sys.modules["pemrik"]
    try:
        del sys.modules["pemrik"]
        import pemrik as again

        assert again is first
        assert all(getattr(again, c.__name__) is c for c in CLASSES)
        assert again.HTTPMETHOD.GET is HTTPMETHOD.GET
    finally:
        sys.modules["pemrik"] = first


def test_second_interpreter_import_fails():
    pytest.importorskip("_testcapi")
    child = run_child(
        """
        import pemrik, _testcapi
        print(_testcapi.run_in_subinterp("import pemrik"))
        print(_testcapi.run_in_subinterp("import pemrik"))
        # The first interpreter keeps its working module.
        print(pemrik.Pemrik("/x", [], pemrik.HTTPMETHOD.GET).get_request_command())
        """
    )
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == ["-1", "-1", "curl -X GET /x"]
    errors = [line for line in child.stderr.splitlines() if line.startswith("ImportError")]
    assert len(errors) == 2
    assert all(line.startswith("ImportError: ") and "sub-interpreters" in line for line in errors)


def churn():
    for _ in range(300):
        request = Pemrik("/u", [("a", "b")], HTTPMETHOD.PUT, "body")
        collection = PemrikCollection([request, request])
        collection.add_request(request)
        copies = collection.get_collection()
        for m in MEMBERS:
            member = getattr(HTTPMETHOD, m)
            repr(member), int(member), member == HTTPMETHOD.GET, member != 0
        for bad in (lambda: Pemrik(5, [], HTTPMETHOD.GET), lambda: HTTPMETHOD(),
                    lambda: Pemrik("/u", [], "GET"), lambda: PemrikCollection([5])):
            try:
                bad()
            except TypeError:
                pass
        del request, collection, copies


def test_refcounts_of_classes_and_members_unchanged():
    watched = CLASSES + [getattr(HTTPMETHOD, m) for m in MEMBERS]
    churn()  # warm any interpreter caches first
    before = [sys.getrefcount(o) for o in watched]
    churn()
    assert [sys.getrefcount(o) for o in watched] == before


def test_exports_only_the_entry_point():
    out = subprocess.run(
        ["nm", "-D", "--defined-only", pemrik.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in out.splitlines() if line.strip()] == ["PyInit_pemrik"]


def test_panic_exception_is_hidden_and_derives_from_base_exception():
    with pytest.raises(TypeError):
        Pemrik(5, [], HTTPMETHOD.GET)  # the class exists once the module has raised
    assert not [n for n in dir(pemrik) if "Panic" in n]
    found = [c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime"]
    assert len(found) == 1
    cls = found[0]
    assert (cls.__qualname__, cls.__bases__) == ("PanicException", (BaseException,))
    assert not issubclass(cls, Exception)
    assert cls.__doc__
