"""Hostile inputs: sequences that lie, raise or call back into the module,
subclasses with overridden methods, control characters, huge texts."""

import gc
import json
import re

import pytest
from hypothesis import given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD as M
from pemrik import Pemrik, PemrikCollection
from support.hostile import IterSeq, Seq, hostile
from support.oracles import curl_line

U = "https://h/p"
SHARED = Pemrik("https://h/shared", [("A", "b")], M.GET, "x")
LINE = SHARED.get_request_command()


def command(url, headers=(), method="GET", body=None):
    return curl_line(url, headers, method, body)


def commands(requests):
    return requests if requests is None else [r.get_request_command() for r in requests]


def outcome(call):
    try:
        return call()
    except Exception as e:
        return type(e), str(e)


@given(
    headers=st.booleans(),
    n=st.integers(0, 5),
    iterate=st.booleans(),
    length=st.sampled_from(
        [-1, 0, 3, 2**31, 2**70, "x", ZeroDivisionError("len"), TypeError("len")]
    ),
    fail=st.none()
    | st.tuples(
        st.integers(0, 4),
        st.sampled_from([KeyError("k"), ValueError("v"), TypeError("t"), RuntimeError("r")]),
    ),
)
def test_any_sequence_gives_what_it_yields_or_its_error(headers, n, iterate, length, fail):
    items = [
        (f"N{i}", f"v{i}") if headers else Pemrik(f"https://h/{i}", [], M.PUT) for i in range(n)
    ]
    given = items[: fail[0]] + [fail[1]] if fail and fail[0] <= n else items
    seq = (IterSeq if iterate else Seq)(given, length)
    if headers:
        got, expected = (
            outcome(lambda: Pemrik(U, seq, M.GET).get_request_command()),
            command(U, items),
        )
    else:
        got, expected = (
            outcome(lambda: commands(PemrikCollection(seq).get_collection())),
            commands(items),
        )
    if given is not items:
        exc = fail[1]
        prefix = (
            f"argument '{'headers' if headers else 'collection'}': "
            if type(exc) is TypeError
            else ""
        )
        expected = type(exc), prefix + str(exc)
    assert got == expected


class Hook:
    """Calls back when compared or turned into text; as an iterator, yields `items`."""

    def __init__(self, callback, items=()):
        self.callback, self.items = callback, iter(items)

    def __eq__(self, other):
        return self.callback() or other is M.GET

    def __str__(self):
        return self.callback() or "hook"

    def __next__(self):
        return next(self.items)


class Released(Hook):
    def __del__(self):
        self.callback()


# (outer call, given the callback and the collection it changes; expected outcome)
CALLBACKS = [
    (
        lambda cb, c: Pemrik(
            U, Seq([("H1", "v1"), ("H2", "v2")], step=cb), M.DELETE, "b"
        ).get_request_command(),
        command(U, [("H1", "v1"), ("H2", "v2")], "DELETE", "b"),
    ),
    (
        lambda cb, c: commands(
            PemrikCollection(IterSeq([SHARED, SHARED], step=cb)).get_collection()
        ),
        [LINE] * 2,
    ),
    # the iterator is released inside the call
    (
        lambda cb, c: commands(
            PemrikCollection(
                hostile(list, __iter__=lambda s: Released(cb, s[:]))([SHARED])
            ).get_collection()
        ),
        [LINE],
    ),
    (
        lambda cb, c: Pemrik(U, Seq([TypeError(Hook(cb))]), M.GET),
        (TypeError, "argument 'headers': hook"),
    ),
    # the name of an unknown keyword is turned into text before the receiver is borrowed
    (
        lambda cb, c: c.add_request(
            **{
                hostile(
                    str,
                    __str__=lambda k: cb() or "shown",
                    __eq__=lambda k, o: False,
                    __hash__=str.__hash__,
                )("bogus"): SHARED
            }
        ),
        (TypeError, "PemrikCollection.add_request() got an unexpected keyword argument 'shown'"),
    ),
    (lambda cb, c: (M.GET == Hook(cb), M.POST == Hook(cb)), (True, False)),
]


@pytest.mark.parametrize("make, expected", CALLBACKS)
def test_callbacks_into_the_module(make, expected):
    c, seen = PemrikCollection(), []

    def poke():  # everything the module offers, on the collection and the shared request
        c.add_request(SHARED)
        seen.append(
            (
                SHARED.get_request_command(),
                len(c.get_collection()),
                len(json.loads(c.export_collection())["item"]),
                repr(M.GET),
                int(M.CONNECT),
                M.GET == M.GET,
            )
        )

    assert outcome(lambda: make(poke, c)) == expected
    assert seen and seen == [
        (LINE, i, i, "HTTPMETHOD.GET", 8, True) for i in range(1, len(seen) + 1)
    ]


def test_finalizers_run_by_the_collector_inside_module_calls():
    # They can run while the module holds a borrow of the very collection.
    r = Pemrik(U, [("A", "b")], M.GET)
    c, outcomes = PemrikCollection([r]), []
    calls = (lambda: c.add_request(r), c.get_collection, c.export_collection, r.get_request_command)
    Cycle = type(
        "Cycle",
        (),
        {
            "__init__": lambda s: setattr(s, "me", s),
            "__del__": lambda s: outcomes.extend(map(outcome, calls)),
        },
    )
    threshold = gc.get_threshold()
    gc.set_threshold(1, 1, 1)
    try:
        for _ in range(100):
            Cycle()
            assert len(c.get_collection()) <= len(json.loads(c.export_collection())["item"])
            Cycle()
            PemrikCollection(c.get_collection() + [r])
            Cycle()
            pytest.raises(TypeError, c.add_request, "x")
    finally:
        gc.set_threshold(*threshold)
        gc.collect()
    errors = {o for o in outcomes if isinstance(o, tuple)}
    assert errors <= {
        (RuntimeError, "Already borrowed"),
        (RuntimeError, "Already mutably borrowed"),
    }
    assert len(c.get_collection()) == 1 + outcomes[::4].count(None)


def test_subclasses():
    # str and tuple subclasses are read by their real contents
    Str = hostile(
        str,
        "__str__ __repr__ __iter__ __len__ __getitem__ __eq__ encode".split(),
        __hash__=str.__hash__,
    )
    Tuple = hostile(tuple, ["__iter__", "__len__", "__getitem__"])
    url, name, value, body = Str("https://h/a b"), Str("N\x00me"), Str("v'\"$"), Str("@b'o\ndy")
    assert Pemrik(
        url, [Tuple((name, value)), (Str(""), Str(""))], M.PATCH, body
    ).get_request_command() == command(
        "https://h/a b", [("N\x00me", "v'\"$"), ("", "")], "PATCH", "@b'o\ndy"
    )
    # sequences of headers are read through their own iteration
    for base in (list, tuple):
        headers = hostile(
            base, ["__len__", "__getitem__"], __iter__=lambda s: iter([("from", "iter")])
        )
        assert Pemrik(U, headers([("a", "b")]), M.GET).get_request_command() == command(
            U, [("from", "iter")]
        )


def test_unreadable_type_name_in_conversion_errors():
    odd = type("Odd", (), {"__qualname__": "Odd\ud800"})()
    assert outcome(lambda: Pemrik(U, [odd], M.GET)) == (
        TypeError,
        "argument 'headers': '<failed to extract type name>' object cannot be converted to 'PyTuple'",
    )


# NUL and every control character; 16 MB with quotes and escapes, in each field
@pytest.mark.parametrize(
    "text",
    [
        "".join(map(chr, range(32))) + "\x7f\u2028é\U0001f600'\"\\$`",
        ("a" * 60 + "'é\x01") * 250_000,
    ],
    ids=["controls", "huge"],
)
def test_texts_in_every_field(text):
    url = "https://" + text + "/p"
    assert Pemrik(url, [(text, text)], M.TRACE, text).get_request_command() == command(
        url, [(text, text)], "TRACE", text
    )
    exported = PemrikCollection([Pemrik(url, [(text, text)], M.TRACE, text)]).export_collection()
    assert not re.search("[\x00-\x1f]", exported)
    item = json.loads(exported)["item"][0]
    assert (
        item["name"],
        item["request"]["url"]["host"],
        item["request"]["header"],
        item["request"]["body"]["raw"],
    ) == (url, text, [{"key": text, "value": text}], text)


PANIC = next(c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime")


def unprintable(error):
    def text(self):
        raise error

    return type("Unprintable", (PANIC,), {"__str__": text})()


# An internal failure that comes back through script code is raised again as a
# new one with the same text; without one, MemoryError stays MemoryError.
@pytest.mark.parametrize(
    "raised, expected",
    [
        (PANIC("came back " * 10), (PANIC, "came back " * 10)),
        (PANIC("lone \ud800 surrogate"), (PANIC, "lone " + "\ufffd" * 3 + " surrogate")),
        (unprintable(ValueError("no text")), (PANIC, "Unwrapped panic from Python code")),
        (unprintable(MemoryError()), (MemoryError, "")),
    ],
)
def test_internal_failure_coming_back_through_script_code(raised, expected):
    with pytest.raises(BaseException) as caught:
        Pemrik(U, Seq([raised]), M.GET)
    assert (type(caught.value), str(caught.value)) == expected and caught.value is not raised


# A failing length hint only costs the reservation, for ordinary exceptions;
# anything else ends the call: an interrupt unchanged, an internal failure as one.
# MemoryError is an Exception, so a __len__ out of memory costs the reservation too.
@pytest.mark.parametrize(
    "error",
    [KeyboardInterrupt("len"), SystemExit(3), PANIC("len"), ValueError("len"), MemoryError("len")],
    ids=lambda e: type(e).__name__,
)
@pytest.mark.parametrize(
    "call, items, expected",
    [
        (
            lambda seq: Pemrik(U, seq, M.GET).get_request_command(),
            [("A", "b")],
            command(U, [("A", "b")]),
        ),
        (lambda seq: commands(PemrikCollection(seq).get_collection()), [SHARED], [LINE]),
    ],
    ids=["headers", "collection"],
)
def test_failing_length_hint(call, items, expected, error):
    if isinstance(error, Exception):
        assert call(Seq(items, error)) == expected
        return
    with pytest.raises(type(error)) as caught:
        call(Seq(items, error))
    assert caught.value is error or (type(error) is PANIC and str(caught.value) == "len")
