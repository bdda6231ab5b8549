"""Argument binding, the argument-error rule and the argument conversions."""

import sys

import pytest

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.hostile import Seq

GET = HTTPMETHOD.GET
NEW, COLL, ADD = "Pemrik.__new__()", "PemrikCollection.__new__()", "PemrikCollection.add_request()"
R = Pemrik("/r", [], GET)


def call(target, args, kwargs):
    if target == ADD:  # on a fresh collection, which a failed call leaves as it was
        collection = PemrikCollection()
        try:
            return collection.add_request(*args, **kwargs)
        except BaseException:
            assert collection.get_collection() is None
            raise
    return {NEW: Pemrik, COLL: PemrikCollection}[target](*args, **kwargs)


class StrSub(str):
    def __str__(self):
        return "not the content"


BINDING = [
    (NEW, (), {}, "missing 3 required positional arguments: 'url', 'headers', and 'method'"),
    (NEW, ("/u",), {}, "missing 2 required positional arguments: 'headers' and 'method'"),
    (NEW, ("/u", []), {}, "missing 1 required positional argument: 'method'"),
    (NEW, (), {"headers": []}, "missing 2 required positional arguments: 'url' and 'method'"),
    (ADD, (), {}, "missing 1 required positional argument: 'pemrik'"),
    # too many positional arguments: keywords are not looked at
    (NEW, (1, 2, 3, 4, 5, 6), {"x": 1}, "takes from 3 to 4 positional arguments but 6 were given"),
    (COLL, (None, None), {}, "takes from 0 to 1 positional arguments but 2 were given"),
    (ADD, (R, R), {"request": R}, "takes 1 positional arguments but 2 were given"),
    (NEW, ("/u", [], GET), {"url": "/v"}, "got multiple values for argument 'url'"),
    (COLL, (None,), {"collection": None}, "got multiple values for argument 'collection'"),
    (ADD, (R,), {"pemrik": R}, "got multiple values for argument 'pemrik'"),
    # keywords are examined in the order given, before the missing check
    (NEW, (5,), {"x": 1, "url": 1}, "got an unexpected keyword argument 'x'"),
    (NEW, (5,), {"url": 1, "x": 1}, "got multiple values for argument 'url'"),
    (NEW, ("/u", [], GET), {"URL": "/u"}, "got an unexpected keyword argument 'URL'"),
    (NEW, ("/u", [], GET), {"body\0": ""}, "got an unexpected keyword argument 'body\0'"),
    (COLL, (), {"collections": None}, "got an unexpected keyword argument 'collections'"),
    (ADD, (), {"request": R}, "got an unexpected keyword argument 'request'"),
    (ADD, (R,), {"\udcff": R}, "got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
]


@pytest.mark.parametrize("target, args, kwargs, message", BINDING)
def test_binding_messages(target, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        call(target, args, kwargs)
    e = info.value
    assert type(e) is TypeError and str(e) == f"{target} {message}"
    assert e.__cause__ is None and e.__context__ is None


def instance_of(name, **attributes):  # of a script's own class
    return type(name, (), attributes)()


def conv(argument, source, target):
    return f"argument '{argument}': '{source}' object cannot be converted to '{target}'"


STR = "Can't extract `str` to `Vec`"
CONVERSION = [
    (NEW, (5, [], GET), conv("url", "int", "PyString")),
    (NEW, ("/u", "", GET), "argument 'headers': " + STR),
    (NEW, ("/u", StrSub("ab"), GET), "argument 'headers': " + STR),
    (NEW, ("/u", {}, GET), conv("headers", "dict", "Sequence")),
    (NEW, ("/u", (h for h in []), GET), conv("headers", "generator", "Sequence")),
    (NEW, ("/u", [["a", "b"]], GET), conv("headers", "list", "PyTuple")),
    (NEW, ("/u", b"x", GET), conv("headers", "int", "PyTuple")),
    (NEW, ("/u", [("a", 1)], GET), conv("headers", "int", "PyString")),
    (
        NEW,
        (
            "/u",
            instance_of("BadIter", __getitem__=lambda s, i: ("a", "b"), __iter__=lambda s: 5),
            GET,
        ),
        "argument 'headers': iter() returned non-iterator of type 'int'",
    ),
    (NEW, ("/u", [], "GET"), conv("method", "str", "HTTPMETHOD")),
    (NEW, ("/u", [], instance_of("HTTPMETHOD")), conv("method", "HTTPMETHOD", "HTTPMETHOD")),
    (NEW, ("/u", [], R), conv("method", "Pemrik", "HTTPMETHOD")),
    (NEW, ("/u", [], GET, 5), conv("body", "int", "PyString")),
    (COLL, ("",), "argument 'collection': " + STR),
    (COLL, ({R},), conv("collection", "set", "Sequence")),
    (COLL, ([R, 5],), conv("collection", "int", "Pemrik")),
    (COLL, ([GET],), conv("collection", "HTTPMETHOD", "Pemrik")),
    (COLL, ([instance_of("Pemrik")],), conv("collection", "Pemrik", "Pemrik")),
    (ADD, ("x",), conv("pemrik", "str", "Pemrik")),
    (ADD, (PemrikCollection(),), conv("pemrik", "PemrikCollection", "Pemrik")),
]


@pytest.mark.parametrize("target, args, message", CONVERSION)
def test_conversion_refusals_are_named_after_the_argument(target, args, message):
    with pytest.raises(TypeError) as info:
        call(target, args, {})
    e = info.value
    assert type(e) is TypeError and str(e) == message
    # the caught exception is chained neither way
    assert e.__cause__ is None and e.__context__ is None and e.__suppress_context__


LyingTuple = type(
    "LyingTuple",
    (tuple,),
    {
        "__len__": lambda s: 2,
        "__getitem__": lambda s, i: "lie",
        "__iter__": lambda s: iter(["lie", "lie"]),
    },
)
BAD = "ab\udc80"


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((5, Seq([]), 5, 5), TypeError, conv("url", "int", "PyString")),
        ((BAD, Seq([]), 5, 5), UnicodeEncodeError, None),
        (("/u", [("n", BAD)], 5), UnicodeEncodeError, None),
        (
            ("/u", [("a", "b"), ("x",)], 5, 5),
            ValueError,
            "expected tuple of length 2, but got tuple of length 1",
        ),
        (
            ("/u", [LyingTuple(("a", "b", "c"))], 5),
            ValueError,
            "expected tuple of length 2, but got tuple of length 3",
        ),
        (("/u", [], "GET", BAD), TypeError, conv("method", "str", "HTTPMETHOD")),
        (("/u", [], GET, BAD), UnicodeEncodeError, None),
    ],
)
def test_only_the_first_failure_in_parameter_order_is_reported(args, error, message):
    with pytest.raises(error) as info:
        Pemrik(*args)
    e = info.value
    assert type(e) is error and message in (None, str(e))
    assert all(a.read == [] for a in args if isinstance(a, Seq))
    if error is UnicodeEncodeError:  # the interpreter's own error, unchanged
        with pytest.raises(UnicodeEncodeError) as expected:
            BAD.encode("utf-8")
        w = expected.value
        assert (str(e), e.encoding, e.object, e.start, e.end, e.reason) == (
            str(w),
            w.encoding,
            w.object,
            w.start,
            w.end,
            w.reason,
        )


@pytest.mark.parametrize(
    "exc",
    [
        ValueError("v"),
        type("TypeErrorSub", (TypeError,), {})("only exact TypeError is renamed"),
        UnicodeEncodeError("utf-8", "x", 0, 1, "why"),
        KeyboardInterrupt(),
    ],
    ids=lambda e: type(e).__name__,
)
def test_other_exceptions_pass_unchanged(exc):
    with pytest.raises(BaseException) as info:
        Pemrik("/u", Seq([exc]), GET)
    assert info.value is exc and info.value.__cause__ is None


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


@pytest.mark.parametrize(
    "caught, text, hooked",
    [
        (TypeError("bad\udc80item"), "bad\ufffd\ufffd\ufffditem", False),
        (TypeError(Unprintable()), "<unprintable TypeError object>", True),
    ],
)
def test_renamed_type_error_keeps_the_caught_cause_and_lossy_text(
    caught, text, hooked, monkeypatch
):
    caught.__cause__, unraisable = KeyError("k"), []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)
    with pytest.raises(TypeError) as info:
        Pemrik("/u", Seq([caught]), GET)
    e = info.value
    assert type(e) is TypeError and e is not caught and str(e) == "argument 'headers': " + text
    assert e.__cause__ is caught.__cause__ and e.__suppress_context__ and e.__context__ is None
    assert [(h.exc_type, h.object) for h in unraisable] == [(RuntimeError, caught)] * hooked


def test_keyword_text_content_bytes_headers_and_first_bad_item():
    # (str and tuple subclasses in every field are read by content: the hostile tests)
    command = Pemrik("/u", b"", **{StrSub("method"): GET}).get_request_command()
    assert command == "curl -X GET /u"
    headers = Seq([("a", "1"), 5, ("c", "3")])  # the first bad item ends the conversion
    with pytest.raises(
        TypeError, match="^argument 'headers': 'int' object cannot be converted to 'PyTuple'$"
    ):
        Pemrik("/u", headers, GET)
    assert headers.read == [0, 1]
