"""Argument binding, the argument-error rule and the argument conversions."""

import collections
import sys

import pytest

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection

GET = HTTPMETHOD.GET
NEW = "Pemrik.__new__()"
COLL = "PemrikCollection.__new__()"
ADD = "PemrikCollection.add_request()"
REQUEST = Pemrik("/r", [], GET)


def call(target, args, kwargs):
    """Calls one of the three callables; add_request on a fresh, empty collection."""
    if target == "add_request":
        collection = PemrikCollection()
        try:
            return collection.add_request(*args, **kwargs)
        except BaseException:
            assert collection.get_collection() is None  # a failed call changes nothing
            raise
    return {"Pemrik": Pemrik, "PemrikCollection": PemrikCollection}[target](*args, **kwargs)


class StrSub(str):
    def __str__(self):
        return "not the content"


R = REQUEST
BINDING = [
    # missing required arguments, listed in parameter order
    ("Pemrik", (), {}, f"{NEW} missing 3 required positional arguments: 'url', 'headers', and 'method'"),
    ("Pemrik", ("/u",), {}, f"{NEW} missing 2 required positional arguments: 'headers' and 'method'"),
    ("Pemrik", ("/u", []), {}, f"{NEW} missing 1 required positional argument: 'method'"),
    ("Pemrik", (), {"headers": []}, f"{NEW} missing 2 required positional arguments: 'url' and 'method'"),
    ("Pemrik", (), {"method": GET, "body": ""}, f"{NEW} missing 2 required positional arguments: 'url' and 'headers'"),
    ("Pemrik", (), {"headers": [], "method": GET}, f"{NEW} missing 1 required positional argument: 'url'"),
    ("Pemrik", ("/u",), {"method": GET, "body": None}, f"{NEW} missing 1 required positional argument: 'headers'"),
    ("add_request", (), {}, f"{ADD} missing 1 required positional argument: 'pemrik'"),
    # too many positional arguments; keywords are not looked at
    ("Pemrik", ("/u", [], GET, None, None), {}, f"{NEW} takes from 3 to 4 positional arguments but 5 were given"),
    ("Pemrik", (1, 2, 3, 4, 5, 6), {"x": 1}, f"{NEW} takes from 3 to 4 positional arguments but 6 were given"),
    ("PemrikCollection", (None, None), {}, f"{COLL} takes from 0 to 1 positional arguments but 2 were given"),
    ("PemrikCollection", (1, 2, 3), {"x": 1}, f"{COLL} takes from 0 to 1 positional arguments but 3 were given"),
    ("add_request", (R, R), {}, f"{ADD} takes 1 positional arguments but 2 were given"),
    ("add_request", (R, R, R), {"request": R}, f"{ADD} takes 1 positional arguments but 3 were given"),
    # a parameter filled twice
    ("Pemrik", ("/u", [], GET), {"url": "/v"}, f"{NEW} got multiple values for argument 'url'"),
    ("Pemrik", ("/u", [], GET, None), {"body": None}, f"{NEW} got multiple values for argument 'body'"),
    ("PemrikCollection", (None,), {"collection": None}, f"{COLL} got multiple values for argument 'collection'"),
    ("add_request", (R,), {"pemrik": R}, f"{ADD} got multiple values for argument 'pemrik'"),
    # unknown keywords, examined in the order given and before the missing check
    ("Pemrik", (), {"x": 1}, f"{NEW} got an unexpected keyword argument 'x'"),
    ("Pemrik", (5,), {"x": 1, "url": 1}, f"{NEW} got an unexpected keyword argument 'x'"),
    ("Pemrik", (5,), {"url": 1, "x": 1}, f"{NEW} got multiple values for argument 'url'"),
    ("Pemrik", ("/u", [], GET), {"URL": "/u"}, f"{NEW} got an unexpected keyword argument 'URL'"),
    ("Pemrik", ("/u", [], GET), {"bödy": ""}, f"{NEW} got an unexpected keyword argument 'bödy'"),
    ("Pemrik", ("/u", [], GET), {"body\0": ""}, f"{NEW} got an unexpected keyword argument 'body\0'"),
    ("Pemrik", ("/u", [], GET), {"bo\udc80dy": ""},
     f"{NEW} got an unexpected keyword argument 'bo\ufffd\ufffd\ufffddy'"),
    # a keyword is matched by its text; the message shows its str()
    ("Pemrik", ("/u", [], GET), {StrSub("x"): 1}, f"{NEW} got an unexpected keyword argument 'not the content'"),
    ("PemrikCollection", (), {"collections": None}, f"{COLL} got an unexpected keyword argument 'collections'"),
    ("add_request", (), {"request": R}, f"{ADD} got an unexpected keyword argument 'request'"),
    ("add_request", (R,), {"\udcff": R}, f"{ADD} got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
]


@pytest.mark.parametrize("target, args, kwargs, message", BINDING)
def test_binding_messages(target, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        call(target, args, kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == message
    assert info.value.__cause__ is None and info.value.__context__ is None


@pytest.mark.parametrize(
    "target, args, kwargs",
    [
        ("Pemrik", ("/u", []), {"method": GET}),
        ("Pemrik", ("/u", []), {StrSub("method"): GET}),
        ("Pemrik", (), {"body": None, "method": GET, "headers": [], "url": "/u"}),
        ("Pemrik", ("/u", [], GET, None), {}),
        ("PemrikCollection", (), {}),
        ("PemrikCollection", (None,), {}),
        ("PemrikCollection", (), {"collection": None}),
        ("add_request", (R,), {}),
        ("add_request", (), {"pemrik": R}),
    ],
)
def test_binding_accepts(target, args, kwargs):
    call(target, args, kwargs)


class Outer:
    class Inner:
        pass


class HTTPMETHOD_:  # a script's own class with the same name as the module's
    pass


HTTPMETHOD_.__qualname__ = "HTTPMETHOD"


CONVERSION = [
    ("Pemrik", (5, [], GET), "argument 'url': 'int' object cannot be converted to 'PyString'"),
    ("Pemrik", (Outer.Inner(), [], GET), "argument 'url': 'Outer.Inner' object cannot be converted to 'PyString'"),
    ("Pemrik", ("/u", "", GET), "argument 'headers': Can't extract `str` to `Vec`"),
    ("Pemrik", ("/u", "ab", GET), "argument 'headers': Can't extract `str` to `Vec`"),
    ("Pemrik", ("/u", StrSub(""), GET), "argument 'headers': Can't extract `str` to `Vec`"),
    ("Pemrik", ("/u", {}, GET), "argument 'headers': 'dict' object cannot be converted to 'Sequence'"),
    ("Pemrik", ("/u", {("a", "b")}, GET), "argument 'headers': 'set' object cannot be converted to 'Sequence'"),
    ("Pemrik", ("/u", (h for h in [("a", "b")]), GET),
     "argument 'headers': 'generator' object cannot be converted to 'Sequence'"),
    ("Pemrik", ("/u", iter([]), GET), "argument 'headers': 'list_iterator' object cannot be converted to 'Sequence'"),
    ("Pemrik", ("/u", {}.keys(), GET), "argument 'headers': 'dict_keys' object cannot be converted to 'Sequence'"),
    ("Pemrik", ("/u", 5, GET), "argument 'headers': 'int' object cannot be converted to 'Sequence'"),
    ("Pemrik", ("/u", [["a", "b"]], GET), "argument 'headers': 'list' object cannot be converted to 'PyTuple'"),
    ("Pemrik", ("/u", ["ab"], GET), "argument 'headers': 'str' object cannot be converted to 'PyTuple'"),
    ("Pemrik", ("/u", b"x", GET), "argument 'headers': 'int' object cannot be converted to 'PyTuple'"),
    ("Pemrik", ("/u", [("a", 1)], GET), "argument 'headers': 'int' object cannot be converted to 'PyString'"),
    ("Pemrik", ("/u", [(None, "b")], GET), "argument 'headers': 'NoneType' object cannot be converted to 'PyString'"),
    ("Pemrik", ("/u", [], "GET"), "argument 'method': 'str' object cannot be converted to 'HTTPMETHOD'"),
    ("Pemrik", ("/u", [], 0), "argument 'method': 'int' object cannot be converted to 'HTTPMETHOD'"),
    ("Pemrik", ("/u", [], HTTPMETHOD_()), "argument 'method': 'HTTPMETHOD' object cannot be converted to 'HTTPMETHOD'"),
    ("Pemrik", ("/u", [], REQUEST), "argument 'method': 'Pemrik' object cannot be converted to 'HTTPMETHOD'"),
    ("Pemrik", ("/u", [], GET, 5), "argument 'body': 'int' object cannot be converted to 'PyString'"),
    ("add_request", (5,), "argument 'pemrik': 'int' object cannot be converted to 'Pemrik'"),
]


@pytest.mark.parametrize("target, args, message", CONVERSION)
def test_conversion_refusals_are_named_after_the_argument(target, args, message):
    with pytest.raises(TypeError) as info:
        call(target, args, {})
    e = info.value
    assert type(e) is TypeError
    assert str(e) == message
    # The cause is the caught exception's own cause (None here): the caught
    # exception itself is chained neither way, and the context is suppressed.
    assert e.__cause__ is None and e.__context__ is None and e.__suppress_context__


class Raising:
    """A sequence whose iteration raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise self.exc


class TypeErrorSub(TypeError):
    pass


@pytest.mark.parametrize(
    "exc",
    [ValueError("v"), KeyError("k"), RuntimeError("r"), TypeErrorSub("only exact TypeError is renamed"),
     UnicodeEncodeError("utf-8", "x", 0, 1, "why"), KeyboardInterrupt()],
    ids=lambda e: type(e).__name__,
)
def test_other_exceptions_pass_unchanged(exc):
    with pytest.raises(BaseException) as info:
        Pemrik("/u", Raising(exc), GET)
    assert info.value is exc
    assert str(exc) == str(info.value) and info.value.__cause__ is None


def test_renamed_type_error_keeps_the_caught_cause_and_lossy_text():
    cause = KeyError("k")
    caught = TypeError("bad\udc80item")
    caught.__cause__ = cause
    with pytest.raises(TypeError) as info:
        Pemrik("/u", Raising(caught), GET)
    e = info.value
    assert type(e) is TypeError and e is not caught
    assert str(e) == "argument 'headers': bad\ufffd\ufffd\ufffditem"
    assert e.__cause__ is cause and e.__suppress_context__
    assert e.__context__ is None


def test_unprintable_type_error(monkeypatch):
    class Unprintable:
        def __str__(self):
            raise RuntimeError("no text")

    caught = TypeError(Unprintable())
    hooked = []
    monkeypatch.setattr(sys, "unraisablehook", hooked.append)
    with pytest.raises(TypeError) as info:
        Pemrik("/u", Raising(caught), GET)
    assert type(info.value) is TypeError
    assert str(info.value) == "argument 'headers': <unprintable TypeError object>"
    assert [(h.exc_type, h.object) for h in hooked] == [(RuntimeError, caught)]


def test_iteration_type_errors_are_renamed():
    class BadIter:
        def __getitem__(self, i):
            return ("a", "b")

        def __iter__(self):
            return 5

    with pytest.raises(TypeError) as info:
        Pemrik("/u", BadIter(), GET)
    assert str(info.value) == "argument 'headers': iter() returned non-iterator of type 'int'"


@pytest.mark.parametrize("field", ["url", "name", "value", "body"])
def test_lone_surrogate_raises_the_interpreters_encoding_error(field):
    text = "ab\udc80"
    fields = {"url": "/u", "name": "n", "value": "v", "body": "b", field: text}
    with pytest.raises(UnicodeEncodeError) as expected:
        text.encode("utf-8")
    with pytest.raises(UnicodeEncodeError) as info:
        Pemrik(fields["url"], [(fields["name"], fields["value"])], GET, fields["body"])
    e, want = info.value, expected.value
    assert type(e) is UnicodeEncodeError
    assert (str(e), e.encoding, e.object, e.start, e.end, e.reason) == (
        str(want), want.encoding, want.object, want.start, want.end, want.reason)


@pytest.mark.parametrize("length", [0, 1, 3, 10])
def test_tuple_length_error_passes_without_a_prefix(length):
    with pytest.raises(ValueError) as info:
        Pemrik("/u", [("a", "b"), ("x",) * length], GET)
    assert type(info.value) is ValueError
    assert str(info.value) == f"expected tuple of length 2, but got tuple of length {length}"


def command(headers, url="/u", body=None):
    return Pemrik(url, headers, GET, body).get_request_command()


def test_str_subclasses_are_read_by_content():
    text = command([(StrSub("n"), StrSub("v"))], url=StrSub("/s"), body=StrSub("b"))
    assert text == """curl -X GET /s -H "n: v" -d 'b'"""


def test_nul_is_kept():
    assert command([("n\0", "\0v")], url="/a\0b", body="b\0") == "curl -X GET '/a\0b' -H \"n\0: \0v\" -d 'b\0'"


class LyingTuple(tuple):
    def __len__(self):
        return 2

    def __getitem__(self, i):
        return "lie"

    def __iter__(self):
        return iter(["lie", "lie"])


Pair = collections.namedtuple("Pair", "name value")


def test_tuple_subclasses_are_read_by_real_contents():
    assert command([Pair("a", "b"), LyingTuple(("c", "d"))]) == 'curl -X GET /u -H "a: b" -H "c: d"'
    with pytest.raises(ValueError, match="^expected tuple of length 2, but got tuple of length 3$"):
        command([LyingTuple(("a", "b", "c"))])


class Lying:
    """A sequence whose __len__ says one thing and whose items say another."""

    def __init__(self, length, items):
        self.length, self.items, self.read = length, items, []

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        self.read.append(i)
        return self.items[i]


class IterList(list):
    def __iter__(self):
        return iter([("it", "er")])


@pytest.mark.parametrize(
    "headers, expected",
    [
        (Lying(0, [("a", "1"), ("b", "2"), ("c", "3")]), ["a: 1", "b: 2", "c: 3"]),
        (Lying(10, [("a", "1")]), ["a: 1"]),
        (Lying(sys.maxsize, [("a", "1"), ("b", "2")]), ["a: 1", "b: 2"]),
        (Lying(-1, [("a", "1")]), ["a: 1"]),
        (Lying(2**80, [("a", "1")]), ["a: 1"]),
        (Lying(RuntimeError("no length"), [("a", "1")]), ["a: 1"]),
        (Lying(TypeError("no length"), []), []),
        (IterList([("a", "1"), ("b", "2")]), ["it: er"]),
        (b"", []), (bytearray(), []), (range(0), []), ((), []), ([], []),
        ((("t", "1"), ("t", "2")), ["t: 1", "t: 2"]),
    ],
    ids=repr,
)
def test_sequences_give_exactly_what_iteration_yields(headers, expected):
    assert command(headers) == "curl -X GET /u" + "".join(f' -H "{h}"' for h in expected)


def test_first_bad_item_ends_the_conversion():
    headers = Lying(3, [("a", "1"), 5, ("c", "3")])
    with pytest.raises(TypeError, match="^argument 'headers': 'int' object cannot be converted to 'PyTuple'$"):
        command(headers)
    assert headers.read == [0, 1]


def test_failed_and_successful_calls_release_their_arguments():
    url = "".join(["/", "u"])
    item = (url, url + "v")
    good, bad = [item], [item, 5]
    request = Pemrik(url, good, GET)
    collection = PemrikCollection()
    calls = [
        lambda: Pemrik(url, good, GET, url),
        lambda: Pemrik(url, bad, GET),
        lambda: Pemrik(url, good, url),
        lambda: Pemrik(url, good, GET, good),
        lambda: Pemrik(url, good, GET, url, x=url),
        lambda: PemrikCollection([request, url]),
        lambda: PemrikCollection([request]).get_collection(),
        lambda: collection.add_request(url),
        lambda: collection.add_request(request),
    ]
    watched = [url, item, good, bad, request, GET, collection]
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(100):
        for f in calls:
            try:
                f()
            except (TypeError, ValueError):
                pass
    assert [sys.getrefcount(o) for o in watched] == before
