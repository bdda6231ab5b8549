"""PemrikCollection: construction, add_request, get_collection, copies and failed calls."""

import gc
import sys

import pytest
from hypothesis import given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection

A = Pemrik("https://a/1", [("X", "1")], HTTPMETHOD.POST, "")
B = Pemrik("https://b/2", [], HTTPMETHOD.PUT)


def commands(requests):
    return None if requests is None else [r.get_request_command() for r in requests]


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((), {}, None),
        ((None,), {}, None),
        ((), {"collection": None}, None),
        (([],), {}, []),
        ((), {"collection": ()}, []),
        ((b"",), {}, []),
        (((B, A, B),), {}, [B, A, B]),
    ],
)
def test_constructor_accepts(args, kwargs, expected):
    assert commands(PemrikCollection(*args, **kwargs).get_collection()) == commands(expected)


DESCRIPTOR = (
    "descriptor '{}' for 'builtins.PemrikCollection' objects doesn't apply to a '{}' object"
)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda c: c.add_request(), None),
        (lambda c: c.add_request(pemrik=None), None),
        (lambda c: c.add_request(c), None),  # the receiver itself, while it is borrowed
        (lambda c: PemrikCollection.add_request(5, A), DESCRIPTOR.format("add_request", "int")),
        (
            lambda c: PemrikCollection.export_collection("x"),
            DESCRIPTOR.format("export_collection", "str"),
        ),
        (
            lambda c: c.get_collection(None),
            "PemrikCollection.get_collection() takes no arguments (1 given)",
        ),
        (
            lambda c: c.export_collection(x=1),
            "PemrikCollection.export_collection() takes no keyword arguments",
        ),
    ],
)
@pytest.mark.parametrize("start", [None, [], [A, B]], ids=["absent", "empty", "two"])
def test_failed_calls_change_nothing(call, message, start):
    c = PemrikCollection(start)
    before = commands(c.get_collection()), c.export_collection()
    with pytest.raises(TypeError) as info:
        call(c)
    assert type(info.value) is TypeError and message in (None, str(info.value))
    assert (commands(c.get_collection()), c.export_collection()) == before
    c.add_request(B)  # every borrow was released: the exclusive one can be taken
    assert commands(c.get_collection()) == commands((start or []) + [B])


texts = st.text(st.characters(exclude_categories=["Cs"]), max_size=8)
requests = st.builds(
    Pemrik,
    texts,
    st.lists(st.tuples(texts, texts), max_size=3),
    st.sampled_from([HTTPMETHOD.GET, HTTPMETHOD.HEAD, HTTPMETHOD.CONNECT]),
    st.none() | texts,
)


@given(
    st.lists(requests, max_size=5),
    st.lists(st.tuples(st.integers(0, 9), st.booleans()), max_size=6),
    st.sampled_from(["none", "list", "tuple", "keyword"]),
)
def test_stored_in_insertion_order(initial, picks, how):
    pool = initial + [A, B]
    added = [pool[i % len(pool)] for i, _ in picks]
    how = "list" if how == "none" and initial else how
    c = {
        "none": lambda: PemrikCollection(),
        "list": lambda: PemrikCollection(list(initial)),
        "tuple": lambda: PemrikCollection(tuple(initial)),
        "keyword": lambda: PemrikCollection(collection=initial),
    }[how]()
    for r, (_, keyword) in zip(added, picks, strict=False):
        assert (c.add_request(pemrik=r) if keyword else c.add_request(r)) is None
    expected = None if how == "none" and not added else initial + added
    assert commands(c.get_collection()) == commands(expected)


def test_copies_in_and_out():
    url, body = "".join(["https://h/", "items"]), "".join(["{", "}"])
    r = Pemrik(url, [("Accept", "application/json")], HTTPMETHOD.POST, body)
    given_list = [r, r]
    before = [sys.getrefcount(o) for o in (r, url, body)]
    c = PemrikCollection(given_list)
    c.add_request(r)
    assert [
        sys.getrefcount(o) for o in (r, url, body)
    ] == before  # no reference to what it was given
    expected, text = [r.get_request_command()] * 3, c.export_collection()
    first, second = c.get_collection(), c.get_collection()
    assert (
        len({id(o) for o in first + second + [r]}) == 7
        and commands(first) == commands(second) == expected
    )
    # what went in or came out belongs to the script: changing or dropping it changes nothing
    given_list[0] = first[0] = B
    second.clear()
    del r, url, body, given_list, second
    gc.collect()
    assert commands(c.get_collection()) == expected and c.export_collection() == text
    out = c.get_collection()
    del c  # requests that came out outlive their collection and go into another one
    gc.collect()
    assert commands(PemrikCollection(out).get_collection()) == expected
