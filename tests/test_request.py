"""Pemrik: construction, copying, conversion order and the object surface."""

import itertools
import operator

import pytest

from pemrik import HTTPMETHOD, Pemrik

GET, POST = HTTPMETHOD.GET, HTTPMETHOD.POST
FIELDS = {"url": "/items", "headers": [("A", "1"), ("B", "2")], "method": POST, "body": "x"}
EXPECTED = """curl -X POST /items -H "A: 1" -H "B: 2" -d 'x'"""


@pytest.mark.parametrize("order", list(itertools.permutations(FIELDS)), ids="-".join)
def test_keywords_in_any_order_match_the_positional_call(order):
    assert Pemrik(*FIELDS.values()).get_request_command() == EXPECTED
    assert Pemrik(**{k: FIELDS[k] for k in order}).get_request_command() == EXPECTED


@pytest.mark.parametrize("positional", range(5))
def test_positional_then_keywords(positional):
    names = list(FIELDS)
    args = [FIELDS[n] for n in names[:positional]]
    kwargs = {n: FIELDS[n] for n in names[positional:]}
    request = Pemrik(*args, **kwargs)
    assert type(request) is Pemrik
    assert request.get_request_command() == EXPECTED
    assert Pemrik.__new__(Pemrik, *args, **kwargs).get_request_command() == EXPECTED


@pytest.mark.parametrize(
    "extra, tail",
    [({}, ""), ({"body": None}, ""), ({"body": ""}, " -d ''"), ({"body": "b"}, " -d 'b'")],
    ids=["not given", "None", "empty", "text"],
)
def test_absent_and_empty_body_differ(extra, tail):
    assert Pemrik("/u", [], GET, **extra).get_request_command() == "curl -X GET /u" + tail
    if "body" in extra:
        assert Pemrik("/u", [], GET, extra["body"]).get_request_command() == "curl -X GET /u" + tail


def test_headers_keep_order_and_duplicates():
    headers = [("A", "1"), ("a", "2"), ("A", "1"), ("", "")]
    assert Pemrik("/u", headers, GET).get_request_command() == 'curl -X GET /u -H "A: 1" -H "a: 2" -H "A: 1" -H ": "'


def test_request_is_a_deep_copy():
    item = ("A", "1")
    headers = [item, ("B", "2")]
    request = Pemrik("/u", headers, GET, "b")
    before = request.get_request_command()
    headers.append(("C", "3"))
    headers[0] = ("Z", "9")
    del headers[1]
    headers.clear()
    assert request.get_request_command() == before == """curl -X GET /u -H "A: 1" -H "B: 2" -d 'b'"""
    # Rendering reads the request without changing it.
    assert request.get_request_command() == before


class Spy:
    """A headers sequence that records whether it was looked at."""

    touched = False

    def __len__(self):
        Spy.touched = True
        return 0

    def __getitem__(self, i):
        Spy.touched = True
        raise IndexError


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((5, "x", 5, 5), TypeError, "argument 'url': 'int' object cannot be converted to 'PyString'"),
        ((5, Spy(), 5), TypeError, "argument 'url': 'int' object cannot be converted to 'PyString'"),
        (("\udc80", "x", 5, 5), UnicodeEncodeError, None),
        (("/u", "x", 5, 5), TypeError, "argument 'headers': Can't extract `str` to `Vec`"),
        (("/u", [("a", "b", "c")], 5, 5), ValueError, "expected tuple of length 2, but got tuple of length 3"),
        (("/u", [("a", 1), 5], 5, 5), TypeError, "argument 'headers': 'int' object cannot be converted to 'PyString'"),
        (("/u", [("a", "\udc80")], 5), UnicodeEncodeError, None),
        (("/u", [], 5, 5), TypeError, "argument 'method': 'int' object cannot be converted to 'HTTPMETHOD'"),
        (("/u", [], "GET", "\udc80"), TypeError, "argument 'method': 'str' object cannot be converted to 'HTTPMETHOD'"),
        (("/u", [], GET, 5), TypeError, "argument 'body': 'int' object cannot be converted to 'PyString'"),
        (("/u", [], GET, "\udc80"), UnicodeEncodeError, None),
    ],
)
def test_only_the_first_failure_in_parameter_order_is_reported(args, error, message):
    Spy.touched = False
    with pytest.raises(error) as info:
        Pemrik(*args)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
    assert not Spy.touched


@pytest.mark.parametrize("name", ["url", "headers", "method", "body", "record"])
def test_fields_are_not_attributes(name):
    request = Pemrik("/u", [("A", "1")], GET, "b")
    assert not hasattr(request, name)
    with pytest.raises(AttributeError):
        setattr(request, name, "x")
    with pytest.raises(AttributeError):
        delattr(request, name)
    assert request.get_request_command() == """curl -X GET /u -H "A: 1" -d 'b'"""


def test_equality_is_identity():
    a, b = Pemrik("/u", [], GET), Pemrik("/u", [], GET)
    assert a == a and not a != a
    assert a != b and not a == b
    assert hash(a) == hash(a) and len({a, b}) == 2
    assert repr(a).startswith("<builtins.Pemrik object at 0x")
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        with pytest.raises(TypeError):
            op(a, b)


def test_method_takes_no_arguments():
    request = Pemrik("/u", [], GET)
    assert Pemrik.get_request_command(request) == "curl -X GET /u"
    for call in (lambda: request.get_request_command(1), lambda: request.get_request_command(x=1),
                 lambda: Pemrik.get_request_command(5), lambda: Pemrik.get_request_command()):
        with pytest.raises(TypeError):
            call()
