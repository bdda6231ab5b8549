"""Instances and calls that bypass the constructors: a script can assign
`__new__` or `__init__` on the classes. Each class is changed in a child
interpreter of its own, so that the suite keeps the classes as they were."""

import json

import pytest

from conftest import run_child

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
        ("PemrikCollection().add_request(Z)", ["TypeError", "argument 'pemrik': " + UNMADE.format("Pemrik")]),
        ("PemrikCollection([R, Z])", ["TypeError", "argument 'collection': " + UNMADE.format("Pemrik")]),
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
    exprs, expected = zip(*UNMADE_USES[cls])
    child = run_child(CHILD.format(setup=BYPASS.format(cls=cls), exprs=list(exprs)), env={"PYTHONFAULTHANDLER": "1"})
    assert child.returncode == 0, child.stderr[-3000:]
    assert json.loads(child.stdout) == list(expected)
