"""PemrikCollection: construction, add_request, get_collection, copies and failures."""

import gc
import sys

import pytest
from hypothesis import given, strategies as st

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection

METHODS = [getattr(HTTPMETHOD, n) for n in
           ("GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT")]
A = Pemrik("https://a/1", [("X", "1")], HTTPMETHOD.POST, "")
B = Pemrik("https://b/2", [], HTTPMETHOD.PUT)
NEW, ADD = "PemrikCollection.__new__() ", "PemrikCollection.add_request() "
ARG = "argument 'collection': "
STR = ARG + "Can't extract `str` to `Vec`"


def conv(source, target):
    return f"'{source}' object cannot be converted to '{target}'"


def commands(requests):
    return None if requests is None else [r.get_request_command() for r in requests]


def state(c):
    """Everything a script can observe of a collection."""
    return commands(c.get_collection()), c.export_collection()


class Seq:
    """A sequence of the script's own, whose length need not match what it yields."""

    def __init__(self, items, length=0, fail=None):
        self.items, self.length, self.fail = items, length, fail

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        return self.items[i]

    def __iter__(self):
        yield from self.items
        if self.fail:
            raise self.fail


class Fake:  # a script's class that only looks like the module's request class
    pass


Fake.__name__ = Fake.__qualname__ = "Pemrik"


@pytest.mark.parametrize("make, expected", [
    (lambda: PemrikCollection(), None),
    (lambda: PemrikCollection(None), None),
    (lambda: PemrikCollection(collection=None), None),
    (lambda: PemrikCollection([]), []),
    (lambda: PemrikCollection(()), []),
    (lambda: PemrikCollection(collection=[]), []),
    (lambda: PemrikCollection(b""), []),
    (lambda: PemrikCollection(range(0)), []),
    (lambda: PemrikCollection((B, A, B)), [B, A, B]),
    (lambda: PemrikCollection(Seq([A, B], length=0)), [A, B]),
    (lambda: PemrikCollection(Seq([A], length=1000)), [A]),
])
def test_constructor_accepts(make, expected):
    assert commands(make().get_collection()) == commands(expected)


class StrSub(str):
    pass


@pytest.mark.parametrize("args, kwargs, exc, message", [
    (("abc",), {}, TypeError, STR),
    (("",), {}, TypeError, STR),
    ((StrSub("x"),), {}, TypeError, STR),
    (({},), {}, TypeError, ARG + conv("dict", "Sequence")),
    (({A},), {}, TypeError, ARG + conv("set", "Sequence")),
    (((r for r in [A]),), {}, TypeError, ARG + conv("generator", "Sequence")),
    ((iter([A]),), {}, TypeError, ARG + conv("list_iterator", "Sequence")),
    ((5,), {}, TypeError, ARG + conv("int", "Sequence")),
    ((A,), {}, TypeError, ARG + conv("Pemrik", "Sequence")),
    (([A, 5],), {}, TypeError, ARG + conv("int", "Pemrik")),
    (([A, "x"],), {}, TypeError, ARG + conv("str", "Pemrik")),
    (([None],), {}, TypeError, ARG + conv("NoneType", "Pemrik")),
    (([HTTPMETHOD.GET],), {}, TypeError, ARG + conv("HTTPMETHOD", "Pemrik")),
    (([PemrikCollection()],), {}, TypeError, ARG + conv("PemrikCollection", "Pemrik")),
    (([Fake()],), {}, TypeError, ARG + conv("Pemrik", "Pemrik")),
    (([[A]],), {}, TypeError, ARG + conv("list", "Pemrik")),
    ((b"ab",), {}, TypeError, ARG + conv("int", "Pemrik")),
    ((Seq([A], fail=TypeError("broken")),), {}, TypeError, ARG + "broken"),
    ((Seq([A], fail=KeyError("k")),), {}, KeyError, "'k'"),
    ((None, None), {}, TypeError, NEW + "takes from 0 to 1 positional arguments but 2 were given"),
    (([A], [B]), {"x": 1}, TypeError, NEW + "takes from 0 to 1 positional arguments but 2 were given"),
    ((), {"requests": []}, TypeError, NEW + "got an unexpected keyword argument 'requests'"),
    ((), {"Collection": []}, TypeError, NEW + "got an unexpected keyword argument 'Collection'"),
    (([],), {"collection": []}, TypeError, NEW + "got multiple values for argument 'collection'"),
    ((None,), {"collection": None}, TypeError, NEW + "got multiple values for argument 'collection'"),
])
def test_constructor_refuses(args, kwargs, exc, message):
    before = sys.getrefcount(A)
    with pytest.raises(exc) as info:
        PemrikCollection(*args, **kwargs)
    assert type(info.value) is exc and str(info.value) == message
    if message.startswith(ARG):
        assert info.value.__cause__ is None and info.value.__suppress_context__
    del info
    gc.collect()
    assert sys.getrefcount(A) == before  # nothing of the failed call holds on to its input


@pytest.mark.parametrize("call, message", [
    (lambda c: c.add_request(), ADD + "missing 1 required positional argument: 'pemrik'"),
    (lambda c: c.add_request(A, A), ADD + "takes 1 positional arguments but 2 were given"),
    (lambda c: c.add_request(A, B, pemrik=A), ADD + "takes 1 positional arguments but 2 were given"),
    (lambda c: c.add_request(request=A), ADD + "got an unexpected keyword argument 'request'"),
    (lambda c: c.add_request(A, request=A), ADD + "got an unexpected keyword argument 'request'"),
    (lambda c: c.add_request(A, pemrik=A), ADD + "got multiple values for argument 'pemrik'"),
    (lambda c: c.add_request("x"), "argument 'pemrik': " + conv("str", "Pemrik")),
    (lambda c: c.add_request(pemrik=None), "argument 'pemrik': " + conv("NoneType", "Pemrik")),
    (lambda c: c.add_request([A]), "argument 'pemrik': " + conv("list", "Pemrik")),
    (lambda c: c.add_request(HTTPMETHOD.GET), "argument 'pemrik': " + conv("HTTPMETHOD", "Pemrik")),
    (lambda c: c.add_request(c), "argument 'pemrik': " + conv("PemrikCollection", "Pemrik")),
    (lambda c: c.add_request(Fake()), "argument 'pemrik': " + conv("Pemrik", "Pemrik")),
    # Through the class with a foreign receiver, the interpreter's own method
    # descriptor refuses before the module is entered.
    (lambda c: PemrikCollection.add_request(5, A),
     "descriptor 'add_request' for 'builtins.PemrikCollection' objects doesn't apply to a 'int' object"),
    (lambda c: PemrikCollection.add_request(A, c), "descriptor 'add_request' for "
     "'builtins.PemrikCollection' objects doesn't apply to a 'builtins.Pemrik' object"),
    (lambda c: PemrikCollection.get_collection(5), "descriptor 'get_collection' for "
     "'builtins.PemrikCollection' objects doesn't apply to a 'int' object"),
    (lambda c: PemrikCollection.export_collection("x"), "descriptor 'export_collection' for "
     "'builtins.PemrikCollection' objects doesn't apply to a 'str' object"),
    (lambda c: c.get_collection(None), "PemrikCollection.get_collection() takes no arguments (1 given)"),
    (lambda c: c.export_collection(x=1), "PemrikCollection.export_collection() takes no keyword arguments"),
])
@pytest.mark.parametrize("start", [None, [], [A, B]], ids=["absent", "empty", "two"])
def test_failed_calls_change_nothing(call, message, start):
    c = PemrikCollection(start)
    before = state(c)
    with pytest.raises(TypeError) as info:
        call(c)
    assert type(info.value) is TypeError and str(info.value) == message
    assert state(c) == before
    c.add_request(B)  # every borrow was released: the exclusive one can be taken
    assert commands(c.get_collection()) == commands((start or []) + [B])


def test_signatures():
    assert PemrikCollection.__text_signature__ == "(collection=None)"
    names = [n for n in vars(PemrikCollection) if not n.startswith("_")]
    assert names == ["add_request", "get_collection", "export_collection"]
    assert [getattr(PemrikCollection, n).__text_signature__ for n in names] == \
        ["($self, pemrik)", "($self)", "($self)"]
    assert all(getattr(PemrikCollection, n).__doc__ is None for n in names)


texts = st.text(st.characters(exclude_categories=["Cs"]), max_size=8)
requests = st.builds(Pemrik, texts, st.lists(st.tuples(texts, texts), max_size=3),
                     st.sampled_from(METHODS), st.none() | texts)


@given(st.lists(requests, max_size=5), st.lists(st.tuples(st.integers(0, 9), st.booleans()), max_size=6),
       st.sampled_from(["none", "list", "tuple", "keyword"]))
def test_stored_in_insertion_order(initial, picks, how):
    """Constructor elements first, then each add_request in call order, repeats kept."""
    pool = initial + [A, B]
    added = [pool[i % len(pool)] for i, _ in picks]
    how = "list" if how == "none" and initial else how
    c = {"none": lambda: PemrikCollection(),
         "list": lambda: PemrikCollection(list(initial)),
         "tuple": lambda: PemrikCollection(tuple(initial)),
         "keyword": lambda: PemrikCollection(collection=initial)}[how]()
    for r, (_, keyword) in zip(added, picks):
        assert (c.add_request(pemrik=r) if keyword else c.add_request(r)) is None
    expected = None if how == "none" and not added else initial + added
    assert commands(c.get_collection()) == commands(expected)


def test_copies_in_and_out():
    headers = [("Accept", "application/json")]
    url, body = "".join(["https://h/", "items"]), "".join(["{", "}"])
    r = Pemrik(url, headers, HTTPMETHOD.POST, body)
    counts = lambda: [sys.getrefcount(o) for o in (r, url, body, headers, headers[0])]  # noqa: E731
    before = counts()
    given_list = [r, r]
    c = PemrikCollection(given_list)
    c.add_request(r)
    c.add_request(pemrik=r)
    given_list.append(B)
    given_list[0] = B
    del given_list
    assert counts() == before  # the collection keeps no reference to what it was given
    expected = [r.get_request_command()] * 4
    text = c.export_collection()

    first, second = c.get_collection(), c.get_collection()
    objects = first + second
    assert first is not second and len({id(o) for o in objects}) == 8
    assert all(o is not r for o in objects)
    assert commands(first) == commands(second) == expected

    # what went in or came out belongs to the script: changing or dropping it changes nothing
    first.clear()
    second[0] = B
    del r, headers, url, body, objects, second
    gc.collect()
    assert commands(c.get_collection()) == expected and c.export_collection() == text

    out = c.get_collection()
    del c  # requests that came out outlive their collection and go into another one
    gc.collect()
    assert commands(PemrikCollection(out).get_collection()) == expected


def test_iteration_that_calls_back_into_the_module():
    other = PemrikCollection([A])

    class Reentrant(Seq):
        def __iter__(self):
            other.add_request(B)
            yield from other.get_collection()

    c = PemrikCollection(Reentrant([]))
    assert commands(c.get_collection()) == commands(other.get_collection()) == commands([A, B])
