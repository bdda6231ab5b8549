"""Hostile inputs: sequences that lie, raise or call back, subclasses with
overridden methods, huge texts, NUL and control characters."""

import gc
import json
import re
import sys

import pytest
from hypothesis import given, strategies as st

from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection

SAFE_URL = re.compile(r"[A-Za-z0-9@%+=:,./_-]*")
CONTROL = "".join(map(chr, range(32))) + "\x7f"


def command(url, headers=(), method="GET", body=None):
    """The shell-quoted curl line, built independently of the module."""
    quote = lambda t: "'" + t.replace("'", "'\\''") + "'"  # noqa: E731
    escaped = lambda t: re.sub(r'([\\"$`])', r"\\\1", t)  # noqa: E731
    line = f"curl -X {method} " + (url if SAFE_URL.fullmatch(url) else quote(url))
    line += "".join(f' -H "{escaped(n)}: {escaped(v)}"' for n, v in headers)
    if body is not None:
        line += (" --data-raw " if body.startswith("@") else " -d ") + quote(body)
    return line


def commands(collection):
    got = collection.get_collection()
    return got if got is None else [r.get_request_command() for r in got]


class ByIndex:
    """A sequence of the script's own, read through __getitem__ alone.
    length: what __len__ returns, or an exception it raises; fail: (position,
    exception) raised instead of that item; step: runs before each item."""

    def __init__(self, items, length=0, fail=None, step=None):
        self.items, self.length, self.fail, self.step = items, length, fail, step

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, i):
        if self.fail and i == self.fail[0]:
            raise self.fail[1]
        if i >= len(self.items):
            raise IndexError(i)
        if self.step:
            self.step()
        return self.items[i]


class Seq(ByIndex):
    """The same, read through an iterator."""

    def __iter__(self):
        for i in range(len(self.items) + 1):
            try:
                item = self[i]
            except IndexError:
                return
            yield item


# --- lying and raising sequences ------------------------------------------------

LENGTHS = st.one_of(st.integers(-1, 10), st.sampled_from([2**31, 2**62, 2**70, "x"]),
                    st.sampled_from([ZeroDivisionError("len"), TypeError("len")]))
FAILS = st.one_of(st.none(), st.tuples(st.integers(0, 4), st.sampled_from(
    [KeyError("k"), ValueError("v"), TypeError("t"), RuntimeError("r")])))
TEXT = st.text(st.characters(exclude_categories=["Cs"]), max_size=12)


def expect_failure(fail, parameter):
    """What a failure of the iteration must surface as."""
    exc = fail[1]
    if type(exc) is TypeError:
        return TypeError, f"argument '{parameter}': {exc}"
    return type(exc), str(exc)


@given(pairs=st.lists(st.tuples(TEXT, TEXT), max_size=5), length=LENGTHS, fail=FAILS,
       by_index=st.booleans())
def test_headers_from_any_sequence_are_exactly_what_iteration_yields(pairs, length, fail, by_index):
    seq = (ByIndex if by_index else Seq)(pairs, length, fail)
    if fail and fail[0] <= len(pairs):
        exc, message = expect_failure(fail, "headers")
        with pytest.raises(exc) as info:
            Pemrik("https://h/p", seq, M.GET)
        assert type(info.value) is exc and str(info.value) == message
    else:
        assert Pemrik("https://h/p", seq, M.GET).get_request_command() == command("https://h/p", pairs)


@given(n=st.integers(0, 5), length=LENGTHS, fail=FAILS, by_index=st.booleans())
def test_collection_from_any_sequence(n, length, fail, by_index):
    requests = [Pemrik(f"https://h/{i}", [], M.PUT) for i in range(n)]
    seq = (ByIndex if by_index else Seq)(requests, length, fail)
    if fail and fail[0] <= n:
        exc, message = expect_failure(fail, "collection")
        with pytest.raises(exc) as info:
            PemrikCollection(seq)
        assert type(info.value) is exc and str(info.value) == message
    else:
        assert commands(PemrikCollection(seq)) == [r.get_request_command() for r in requests]


# --- script code that calls back into the module -------------------------------

def test_iteration_calling_back_into_every_operation():
    other = PemrikCollection()
    shared = Pemrik("https://h/shared", [("A", "b")], M.GET, "x")
    seen = []

    def step():
        # Everything the module offers, on other objects and on the request
        # that is handed out next, while the outer call is converting.
        r = Pemrik("https://h/inner", [("I", "j")], M.POST)
        other.add_request(r)
        other.add_request(shared)
        seen.append((len(other.get_collection()), len(json.loads(other.export_collection())["item"]),
                     shared.get_request_command(), repr(M.GET), int(M.CONNECT),
                     M.GET == M.GET, M.GET != M.POST))

    headers = Seq([("H1", "v1"), ("H2", "v2")], step=step)
    request = Pemrik("https://h/outer", headers, M.DELETE, "body")
    assert request.get_request_command() == command(
        "https://h/outer", [("H1", "v1"), ("H2", "v2")], "DELETE", "body")
    built = PemrikCollection(Seq([shared, request, shared], step=step))
    assert commands(built) == [shared.get_request_command(), request.get_request_command(),
                               shared.get_request_command()]
    assert [s[:2] for s in seen] == [(2 * i, 2 * i) for i in range(1, 6)]
    assert {s[2:] for s in seen} == {(command("https://h/shared", [("A", "b")], "GET", "x"),
                                      "HTTPMETHOD.GET", 8, True, True)}
    assert len(other.get_collection()) == 10


class Loud:
    """Turned into text by the module's error handling: runs script code then."""

    def __init__(self, action, text="loud"):
        self.action, self.text = action, text

    def __str__(self):
        self.action()
        return self.text


class KeyName(str):
    """A keyword name whose str() differs from its characters."""

    def __str__(self):
        KeyName.calls += 1
        self.action()
        return "shown"

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__


def test_error_messages_that_run_script_code_calling_back():
    c = PemrikCollection()
    r = Pemrik("https://h/p", [], M.GET)
    # the message of a TypeError raised by the iteration is built by str()
    with pytest.raises(TypeError) as info:
        Pemrik("https://h/p", Seq([("a", "b")], fail=(1, TypeError(Loud(lambda: c.add_request(r))))), M.GET)
    assert str(info.value) == "argument 'headers': loud"
    assert info.value.__cause__ is None
    # the unexpected-keyword message takes str() of the name: it runs before
    # the receiver is borrowed, so the collection can be changed from there
    key = KeyName("bogus")
    key.action = lambda: c.add_request(r)
    KeyName.calls = 0
    with pytest.raises(TypeError) as info:
        c.add_request(**{key: r})
    assert str(info.value) == "PemrikCollection.add_request() got an unexpected keyword argument 'shown'"
    assert KeyName.calls == 1
    assert commands(c) == [r.get_request_command()] * 2
    # a keyword name is matched by its characters, whatever its __eq__ says
    key = KeyName("pemrik")
    c.add_request(**{key: r})
    assert len(c.get_collection()) == 3


def test_unprintable_type_error_from_the_iteration(monkeypatch):
    caught = []
    monkeypatch.setattr(sys, "unraisablehook", caught.append)
    with pytest.raises(TypeError) as info:
        Pemrik("https://h/p", Seq([], fail=(0, TypeError(Loud(lambda: 1 / 0)))), M.GET)
    assert str(info.value) == "argument 'headers': <unprintable TypeError object>"
    assert [type(u.exc_value) for u in caught] == [ZeroDivisionError]


class Other:
    """Compares with a member by running script code that uses the module."""

    def __eq__(self, other):
        return repr(other) == "HTTPMETHOD.GET" and other == M.GET and \
            Pemrik("https://h/p", [], other).get_request_command() == "curl -X GET https://h/p"


def test_member_comparison_falls_back_to_script_code():
    assert M.GET == Other() and Other() == M.GET
    assert not (M.POST == Other())


def test_iterator_released_inside_the_call_calls_back():
    c = PemrikCollection()
    r = Pemrik("https://h/p", [], M.GET)

    class Iterator:
        def __init__(self):
            self.items = [r, r]

        def __next__(self):
            if not self.items:
                raise StopIteration
            return self.items.pop()

        def __del__(self):
            c.add_request(r)

    class Holder:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            return r

        def __iter__(self):
            return Iterator()

    assert len(PemrikCollection(Holder()).get_collection()) == 2
    assert len(c.get_collection()) == 1


def test_finalizers_run_by_the_collector_inside_module_calls():
    # The collector runs at nearly every allocation of a tracked object. Before
    # 3.12 it runs right inside the allocation, so finalizers of garbage cycles
    # run inside the module's calls (when it makes a list or an exception)
    # while it holds its borrows; later versions run it between bytecodes.
    r = Pemrik("https://h/p", [("A", "b")], M.GET)
    c = PemrikCollection([r])
    outcomes = []

    class Cycle:
        def __init__(self):
            self.me = self

        def __del__(self):
            try:
                c.add_request(r)
                outcomes.append("added")
            except RuntimeError as e:
                outcomes.append(str(e))
            for call in (c.get_collection, c.export_collection, r.get_request_command):
                try:
                    call()
                except RuntimeError as e:
                    outcomes.append(str(e))

    threshold = gc.get_threshold()
    gc.set_threshold(1, 1, 1)
    try:
        for _ in range(100):
            Cycle()
            stored = len(c.get_collection())
            assert len(json.loads(c.export_collection())["item"]) >= stored
            Cycle()
            PemrikCollection(c.get_collection() + [r])
            Cycle()
            with pytest.raises(TypeError):
                c.add_request("x")
    finally:
        gc.set_threshold(*threshold)
        gc.collect()
    assert set(outcomes) <= {"added", "Already borrowed", "Already mutably borrowed"}
    assert len(c.get_collection()) == 1 + outcomes.count("added")


# --- subclasses with overridden methods -------------------------------------------

class Str(str):
    """Every method a script could reach answers something else."""

    def __str__(self):
        return "STR"

    __repr__ = __str__

    def __iter__(self):
        return iter("ITER")

    def __len__(self):
        return 99

    def __getitem__(self, i):
        return "X"

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__

    def encode(self, *args, **kwargs):
        return b"ENCODE"


class Tuple(tuple):
    def __iter__(self):
        return iter(("iter-name", "iter-value"))

    def __len__(self):
        return 2 if super().__len__() == 2 else 7

    def __getitem__(self, i):
        return "item"


def test_str_and_tuple_subclasses_are_read_by_their_real_contents():
    url, name, value, body = Str("https://h/a b"), Str("N\x00me"), Str("v'\"$"), Str("@b'o\ndy")
    request = Pemrik(url, [Tuple((name, value)), (Str(""), Str(""))], M.PATCH, body)
    assert request.get_request_command() == command(
        "https://h/a b", [("N\x00me", "v'\"$"), ("", "")], "PATCH", "@b'o\ndy")
    with pytest.raises(ValueError, match="^expected tuple of length 2, but got tuple of length 3$"):
        Pemrik("https://h/p", [Tuple(("a", "b", "c"))], M.GET)
    for make in (lambda: Pemrik("https://h/p", Str("ab"), M.GET), lambda: PemrikCollection(Str(""))):
        with pytest.raises(TypeError, match=r"^argument '(headers|collection)': Can't extract `str` to `Vec`$"):
            make()


def test_sequence_subclasses_are_read_through_iteration():
    class Listy(list):
        def __iter__(self):
            return iter([("from", "iter")])

        def __len__(self):
            raise ZeroDivisionError

    class Tuply(tuple):
        def __iter__(self):
            return iter([("from", "iter"), ("and", "more")])

    assert Pemrik("https://h/p", Listy([("a", "b")]), M.GET).get_request_command() == \
        command("https://h/p", [("from", "iter")])
    assert Pemrik("https://h/p", Tuply([("a", "b")]), M.GET).get_request_command() == \
        command("https://h/p", [("from", "iter"), ("and", "more")])


@pytest.mark.parametrize("type_name, shown", [
    ("Odd", "Odd"),
    ("Outer.<locals>.Odd", "Outer.<locals>.Odd"),
    ("Odd\ud800", "<failed to extract type name>"),
    ("Odd\x00\n'", "Odd\x00\n'"),
])
def test_type_names_in_conversion_errors(type_name, shown):
    odd = type("Odd", (), {"__qualname__": type_name})()
    for call, parameter, target in [
        (lambda: Pemrik(odd, [], M.GET), "url", "PyString"),
        (lambda: Pemrik("u", odd, M.GET), "headers", "Sequence"),
        (lambda: Pemrik("u", [odd], M.GET), "headers", "PyTuple"),
        (lambda: Pemrik("u", [], odd), "method", "HTTPMETHOD"),
        (lambda: PemrikCollection([odd]), "collection", "Pemrik"),
        (lambda: PemrikCollection().add_request(odd), "pemrik", "Pemrik"),
    ]:
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == f"argument '{parameter}': '{shown}' object cannot be converted to '{target}'"


# --- texts: NUL, control characters, lone surrogates, huge ------------------------

@pytest.mark.parametrize("where", ["url", "name", "value", "body"])
def test_nul_and_every_control_character_round_trip(where):
    text = "https://h/" + CONTROL + "é\U0001F600'\"\\$`"
    fields = {"url": "https://h/p", "name": "N", "value": "V", "body": "B", where: text}
    request = Pemrik(fields["url"], [(fields["name"], fields["value"])], M.TRACE, fields["body"])
    line = command(fields["url"], [(fields["name"], fields["value"])], "TRACE", fields["body"])
    assert request.get_request_command() == line
    collection = PemrikCollection([request])
    assert [r.get_request_command() for r in collection.get_collection()] == [line]
    exported = collection.export_collection()
    # the text appears exactly as JSON writes it, every control character escaped
    assert json.dumps(text, ensure_ascii=False) in exported
    assert not re.search(f"[{re.escape(CONTROL[:32])}]", exported)
    item = json.loads(exported)["item"][0]
    assert [item["name"], item["request"]["header"][0]["key"], item["request"]["header"][0]["value"],
            item["request"]["body"]["raw"]] == [fields[k] for k in ("url", "name", "value", "body")]


@pytest.mark.parametrize("position", range(4))
def test_lone_surrogate_anywhere_is_refused_unchanged(position):
    texts = ["https://h/p", "N", "V", "B"]
    texts[position] = "a\udc80b"
    collection = PemrikCollection()
    with pytest.raises(UnicodeEncodeError) as info:
        collection.add_request(Pemrik(texts[0], [(texts[1], texts[2])], M.GET, texts[3]))
    assert type(info.value) is UnicodeEncodeError and "argument" not in str(info.value)
    assert collection.get_collection() is None


@pytest.mark.parametrize("keyword, shown", [
    ("u\x00rl", "u\x00rl"),
    ("\udcff", "\ufffd\ufffd\ufffd"),
    ("\n\t" + "k" * 10_000, "\n\t" + "k" * 10_000),
])
def test_hostile_keyword_names_appear_in_the_message(keyword, shown):
    with pytest.raises(TypeError) as info:
        Pemrik("u", [], M.GET, **{keyword: 1})
    assert str(info.value) == f"Pemrik.__new__() got an unexpected keyword argument '{shown}'"


@pytest.mark.parametrize("unit, megabytes", [
    ("a", 32), ("é", 12), ("\U0001F600", 12), ("'", 8), ("\x01", 4)])
def test_huge_texts(unit, megabytes):
    big = unit * (megabytes * 1_000_000 // len(unit.encode()))
    request = Pemrik("https://" + big + "/p", [("N", big)], M.POST, big)
    line = request.get_request_command()
    assert line == command("https://" + big + "/p", [("N", big)], "POST", big)
    del line
    item = json.loads(PemrikCollection([request]).export_collection())["item"][0]
    assert item["request"]["url"]["host"] == big
    assert item["request"]["header"] == [{"key": "N", "value": big}]
    assert item["request"]["body"]["raw"] == big
