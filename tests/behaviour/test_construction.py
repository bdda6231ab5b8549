"""Instances and calls that bypass the constructors: a script can assign
`__new__` or `__init__` on the classes. Each class is changed in a child
interpreter of its own, so that the suite keeps the classes as they were."""

import json

import pytest

from support.child import run_child

CHILD = """
import gc, json
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection

def outcome(expr):
    try:
        value = eval(expr)
    except Exception as e:
        return [type(e).__name__, str(e)]
    return value if isinstance(value, (str, int, bool, type(None))) else type(value).__name__

R = Pemrik("https://h/p", [("A", "b")], M.PUT, "x")
{setup}
print(json.dumps([outcome(e) for e in {exprs!r}]))
del Z
gc.collect()
"""

BYPASS = "{cls}.__new__ = staticmethod(lambda cls, *a, **k: object.__new__(cls))\nZ = object.__new__({cls})"
UNMADE = "{} object was not made by its constructor"

# class: (expression, outcome) for an instance that no constructor made
UNMADE_USES = {
    "Pemrik": [
        ("Z.get_request_command()", ["TypeError", UNMADE.format("Pemrik")]),
        (
            "PemrikCollection().add_request(Z)",
            ["TypeError", "argument 'pemrik': " + UNMADE.format("Pemrik")],
        ),
        (
            "PemrikCollection([R, Z])",
            ["TypeError", "argument 'collection': " + UNMADE.format("Pemrik")],
        ),
        ("type(Pemrik('u', [], M.GET)).__name__", "Pemrik"),
    ],
    "PemrikCollection": [
        ("Z.add_request(R)", ["TypeError", UNMADE.format("PemrikCollection")]),
        ("Z.get_collection()", ["TypeError", UNMADE.format("PemrikCollection")]),
        ("Z.export_collection()", ["TypeError", UNMADE.format("PemrikCollection")]),
    ],
    "M": [
        ("repr(Z)", ["TypeError", UNMADE.format("HTTPMETHOD")]),
        ("str(Z)", ["TypeError", UNMADE.format("HTTPMETHOD")]),
        ("int(Z)", ["TypeError", UNMADE.format("HTTPMETHOD")]),
        ("Z == M.GET", ["TypeError", UNMADE.format("HTTPMETHOD")]),
        ("M.GET == Z", ["TypeError", UNMADE.format("HTTPMETHOD")]),
        ("Z != 0", ["TypeError", UNMADE.format("HTTPMETHOD")]),
        ("Pemrik('u', [], Z)", ["TypeError", "argument 'method': " + UNMADE.format("HTTPMETHOD")]),
        ("[repr(M.GET), int(M.CONNECT), M.GET == M.GET]", "list"),
    ],
}


@pytest.mark.parametrize("cls", UNMADE_USES)
def test_instances_no_constructor_made_are_refused(cls):
    exprs, expected = zip(*UNMADE_USES[cls], strict=False)
    child = run_child(CHILD.format(setup=BYPASS.format(cls=cls), exprs=list(exprs)))
    assert child.returncode == 0, child.stderr[-3000:]
    assert json.loads(child.stdout) == list(expected)


CALL_CHILD = """
import json
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection
seen = []
{setup}
def outcome(call):
    try:
        value = call()
        return [type(value).__name__, value.get_request_command()]
    except Exception as e:
        return [type(e).__name__, str(e)]
args, kwargs = ("https://h/p", [("A", "b")], M.PUT), {{"body": "x"}}
print(json.dumps([outcome(lambda: Pemrik(*args, **kwargs)), seen[:], outcome(lambda: type.__call__(Pemrik, *args, **kwargs)), seen], default=repr))
"""

LINE = "curl -X PUT https://h/p -H \"A: b\" -d 'x'"
ARGS = [["https://h/p", [["A", "b"]], "HTTPMETHOD.PUT"], {"body": "x"}]


# setup: what the call gives, and what the script's __init__/__new__ saw
@pytest.mark.parametrize(
    "setup, result, saw",
    [
        ("", ["Pemrik", LINE], []),
        (
            "Pemrik.__init__ = lambda self, *a, **k: seen.append([list(a), k])",
            ["Pemrik", LINE],
            [ARGS],
        ),
        (
            "Pemrik.__init__ = lambda self, *a, **k: 1 / 0",
            ["ZeroDivisionError", "division by zero"],
            [],
        ),
        (
            "Pemrik.__new__ = staticmethod(lambda cls, *a, **k: seen.append([list(a), k]) or 'other')",
            ["AttributeError", "'str' object has no attribute 'get_request_command'"],
            [ARGS],
        ),
        (
            "Pemrik.__new__ = staticmethod(lambda cls, *a, **k: object.__new__(cls))",
            ["TypeError", UNMADE.format("Pemrik")],
            [],
        ),
    ],
)
def test_calling_the_class_honours_what_the_script_assigned(setup, result, saw):
    child = run_child(CALL_CHILD.format(setup=setup))
    assert child.returncode == 0, child.stderr[-3000:]
    direct, saw_direct, through_type, saw_both = json.loads(child.stdout)
    assert (direct, saw_direct) == (result, saw)
    assert (through_type, saw_both) == (direct, saw_direct * 2)
