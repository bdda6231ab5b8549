"""HTTPMETHOD: nine fixed members compared by value, never constructed."""

import operator

import pytest

from pemrik import HTTPMETHOD

NAMES = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]
MEMBERS = [getattr(HTTPMETHOD, n) for n in NAMES]


@pytest.mark.parametrize("value, name", list(enumerate(NAMES)))
def test_member_texts_and_value(value, name):
    m = getattr(HTTPMETHOD, name)
    assert m is getattr(HTTPMETHOD, name)
    assert type(m) is HTTPMETHOD
    for text in (repr(m), str(m), format(m, ""), f"{m}", "%s" % m, "%r" % m):
        assert type(text) is str and text == f"HTTPMETHOD.{name}"
    assert type(int(m)) is int and int(m) == value
    assert bool(m) is True  # GET too, although its value is 0


@pytest.mark.parametrize("a", MEMBERS, ids=NAMES)
def test_equality_is_by_member(a):
    for b in MEMBERS:
        assert (a == b) is (a is b)
        assert (a != b) is (a is not b)
        assert a.__eq__(b) is (a is b) and a.__ne__(b) is (a is not b)
    assert a in MEMBERS and [a] == [a] and MEMBERS.index(a) == int(a) and MEMBERS.count(a) == 1
    # Against anything else the comparison declines and identity decides.
    for other in (int(a), float(int(a)), True, str(a), a.__class__.__name__, NAMES[int(a)], None, HTTPMETHOD, object()):
        assert a.__eq__(other) is NotImplemented and a.__ne__(other) is NotImplemented
        assert (a == other) is False and (other == a) is False
        assert (a != other) is True and (other != a) is True
    assert a not in [int(a), NAMES[int(a)]]


ORDERINGS = [operator.lt, operator.le, operator.gt, operator.ge]


@pytest.mark.parametrize("op", ORDERINGS, ids=lambda f: f.__name__)
@pytest.mark.parametrize("other", [HTTPMETHOD.GET, HTTPMETHOD.POST, 0, 1, "GET"], ids=repr)
def test_orderings_are_refused(op, other):
    assert getattr(HTTPMETHOD.GET, f"__{op.__name__}__")(other) is NotImplemented
    with pytest.raises(TypeError):
        op(HTTPMETHOD.GET, other)
    with pytest.raises(TypeError):
        op(other, HTTPMETHOD.GET)


def test_sorting_is_refused():
    with pytest.raises(TypeError):
        sorted(MEMBERS)
    with pytest.raises(TypeError):
        max(HTTPMETHOD.GET, HTTPMETHOD.POST)


UNSUPPORTED = [
    ("hash", lambda m: hash(m)),
    ("set", lambda m: {m}),
    ("dict key", lambda m: {m: 1}),
    ("index", lambda m: operator.index(m)),
    ("list index", lambda m: [0, 1, 2][m]),
    ("slice", lambda m: [0, 1, 2][m:]),
    ("range", lambda m: range(m)),
    ("hex", lambda m: hex(m)),
    ("float", lambda m: float(m)),
    ("complex", lambda m: complex(m)),
    ("add", lambda m: m + 1),
    ("radd", lambda m: 1 + m),
    ("neg", lambda m: -m),
    ("abs", lambda m: abs(m)),
    ("invert", lambda m: ~m),
    ("or", lambda m: m | HTTPMETHOD.POST),
    ("len", lambda m: len(m)),
    ("iter", lambda m: iter(m)),
    ("call", lambda m: m()),
    ("format spec", lambda m: format(m, "s")),
]


@pytest.mark.parametrize("what, use", UNSUPPORTED, ids=[u[0] for u in UNSUPPORTED])
@pytest.mark.parametrize("m", [HTTPMETHOD.GET, HTTPMETHOD.CONNECT], ids=["GET", "CONNECT"])
def test_unsupported_uses(what, use, m):
    with pytest.raises(TypeError):
        use(m)


def test_unhashable_class():
    assert HTTPMETHOD.__hash__ is None


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), (("GET",), {}), ((0,), {}), ((HTTPMETHOD.GET,), {}), ((), {"value": 0}), ((1, 2, 3), {"x": 4})],
    ids=repr,
)
def test_no_constructor(args, kwargs):
    for make in (HTTPMETHOD, type(HTTPMETHOD.GET), lambda *a, **k: HTTPMETHOD.__new__(HTTPMETHOD, *a, **k)):
        with pytest.raises(TypeError) as info:
            make(*args, **kwargs)
        assert type(info.value) is TypeError
        assert str(info.value) == "No constructor defined for HTTPMETHOD"


def test_members_cannot_be_changed():
    m = HTTPMETHOD.PUT
    for name in ("value", "name", "GET", "__class__"):
        with pytest.raises((AttributeError, TypeError)):
            setattr(m, name, HTTPMETHOD.GET)
    assert int(m) == 2 and repr(m) == "HTTPMETHOD.PUT"
