"""The texts: get_request_command's curl line, against the Python renderer and bash's own word
splitting, and export_collection's document, against json.dumps of the expected one."""

import gc
import itertools
import json
import os
import subprocess
import sys

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS
from support.oracles import SCHEMA, curl_line, curl_words, export_text, url_doc
from support.postman import conforms

GET, BARE = HTTPMETHOD.GET, "ABCXYZabcxyz0189@%+=:,./-_"
# Every code point that a str can carry to UTF-8 (lone surrogates cannot).
ALL = "".join(chr(c) for c in range(0x110000) if not 0xD800 <= c < 0xE000)


def make(data):
    return [Pemrik(url, list(hs), getattr(HTTPMETHOD, m), body) for url, hs, m, body in data]


def commands(requests):
    return None if requests is None else [r.get_request_command() for r in requests]


def placed(grounds, specials, longest):  # each special at every position of texts up to longest
    kinds = itertools.product(grounds, specials, range(longest + 1))
    return [g * i + s + g * (n - i - 1) for g, s, n in kinds for i in range(n)]


def render(record):  # the command line, or the encoding error of a lone surrogate
    try:
        return make([record])[0].get_request_command()
    except UnicodeEncodeError as e:
        return e.args


def expected(url, headers, method, body):  # the first text's encoding error, or the oracle's line
    for text in [url, *itertools.chain(*headers), *[body] * (body is not None)]:
        try:
            text.encode()
        except UnicodeEncodeError as e:
            return e.args
    return curl_line(url, headers, method, body)


CASES = [  # (url, headers, method name, body) and its line, written out by hand
    (("", [("A", "1")], "GET", ""), """curl -X GET  -H "A: 1" -d ''"""),
    (
        ("/a b?q&r", [("A", 'x"y'), ("B", "2")], "PUT", "it's"),
        """curl -X PUT '/a b?q&r' -H "A: x\\"y" -H "B: 2" -d 'it'\\''s'""",
    ),
    (
        ("/", [('\\"$`', "$(echo injected)!'\n é")], "GET", None),
        'curl -X GET / -H "\\\\\\"\\$\\`: \\$(echo injected)!\'\n é"',
    ),
    (("/", [], "POST", "@'"), "curl -X POST / --data-raw '@'\\'''"),
    (("/", [], "POST", " @x"), "curl -X POST / -d ' @x'"),
    ((BARE, [], "CONNECT", None), f"curl -X CONNECT {BARE}"),
]


@pytest.mark.parametrize("record, line", CASES)
def test_rendering(record, line):
    assert render(record) == curl_line(*record) == line


def test_every_character_at_every_position():
    chars = [chr(c) for c in [*range(0x250), 0x2028, 0xFEFF, 0xFFFF, 0x1F600, 0x10FFFF]]
    texts = [t for c in chars for t in (c, f"a{c}b{c}")]
    texts += placed("x", "'\"\\$`é\U0001f600 ", 23)
    for i, text in enumerate(texts):
        record = (text, [(text, text)], METHODS[i % len(METHODS)], text)
        assert render(record) == curl_line(*record), repr(text)


SPECIAL = "'\"\\$`@!#&;|<>(){}[]*?~= \t\n\r\x01\x08\x0b\x0c\x1f\x7f-%:,./_é\u2028\U0001f600"
SCHEMES = st.from_regex(r"[A-Za-z][A-Za-z0-9+.\-]{0,5}", fullmatch=True)
SCHEMES |= st.text(st.sampled_from("aZ09+-.:_ \u00e9\u0663/!"), max_size=4)


def records(chars, cut=False):  # cut: only urls that the export can cut
    text = st.text(st.sampled_from(SPECIAL) | chars, max_size=16)
    urls = st.builds("{}://{}".format, SCHEMES, text) | st.lists(text, min_size=3).map("/".join)
    urls = urls if cut else urls | text | st.text(st.sampled_from(BARE))
    body = st.none() | text | text.map("@".__add__)
    headers = st.lists(st.tuples(text, text), max_size=3)
    return st.tuples(urls, headers, st.sampled_from(METHODS), body)


@given(records(st.characters()))
def test_matches_the_python_renderer(record):
    assert render(record) == expected(*record)


BASH = ["bash", "--norc", "--noprofile"]
SHELL = records(st.characters(exclude_categories=["Cs"], exclude_characters="\0"))


@example([r for r, _ in CASES])
@given(st.lists(SHELL, min_size=1))
def test_bash_reads_back_exactly_the_fields(batch):
    """Runs the command lines in one bash, with curl a function printing its arguments."""
    script = 'curl() { printf \'%s\\0\' "$#" "$@"; }\n' + "".join(render(r) + "\n" for r in batch)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"}
    done = subprocess.run(BASH, input=script.encode(), capture_output=True, env=env)
    assert done.returncode == 0 and done.stderr == b"", done.stderr
    fields = iter(done.stdout.decode(errors="surrogateescape").split("\0")[:-1])
    words = [[next(fields) for _ in range(int(n))] for n in fields]
    assert words == [curl_words(*r) for r in batch]


def test_worked_example():
    first = Pemrik("http://127.0.0.1:8080/api/items?id=7", [("Accept", "application/json")], GET)
    c = PemrikCollection([first])
    c.add_request(Pemrik("https://127.0.0.1/api/items/", [], HTTPMETHOD.POST, '{"id":7}'))
    assert c.export_collection() == (
        '{"info":{"name":"Pemrik Collection","schema":"' + SCHEMA + '"},"item":['
        '{"name":"http://127.0.0.1:8080/api/items?id=7","request":{"body":{"mode":"raw","raw":""},'
        '"header":[{"key":"Accept","value":"application/json"}],"method":"GET",'
        '"url":{"host":"127.0.0.1:8080","path":["api","items?id=7"],"protocol":"http",'
        '"raw":"http://127.0.0.1:8080/api/items?id=7"}}},'
        '{"name":"https://127.0.0.1/api/items/","request":{"body":{"mode":"raw","raw":"{\\"id\\":7}"},'
        '"header":[],"method":"POST","url":{"host":"127.0.0.1","path":["api","items",""],'
        '"protocol":"https","raw":"https://127.0.0.1/api/items/"}}}]}'
    )
    assert PemrikCollection().export_collection() == export_text([])


NO_SCHEME = ("1a", "+a", "", " http", "a_b", "a!b", "\u212a", "a\u0663", "http\x00")
PROTOCOLS = {  # url: its protocol, as the oracle also finds it
    **dict.fromkeys(["a//b//c", "a/b/c", "http:/x/y", "x/http://h/y"], "https"),
    **{f"{s}://h/x": "https" for s in NO_SCHEME},  # no scheme in front of "://"
    **{f"{s}://{rest}": s for s, rest in [("x", ""), ("file", "/x/y"), ("git+ssh", "u@h:22/r")]},
    **{"a1.b-c+d://h/": "a1.b-c+d", "h://a/b?u=http://c#f": "h"},
}


@pytest.mark.parametrize("url, protocol", PROTOCOLS.items())
def test_url_cutting(url, protocol):
    got = json.loads(PemrikCollection([Pemrik(url, [], GET)]).export_collection())["item"][0]
    assert got["request"]["url"] == url_doc(url) and url_doc(url)["protocol"] == protocol


@pytest.mark.parametrize("bad", ["", "/", "http:/x", "it's /\u00e9\U0001f600", "a\x00b/c"])
@pytest.mark.parametrize("good_before", [0, 2])
def test_url_with_fewer_than_two_slashes(bad, good_before):
    urls = [f"s://h/{i}" for i in range(good_before)] + [bad, "also/bad", "s://h/z"]
    stored = [Pemrik(url, [("k", "v")], GET, "b") for url in urls]
    c = PemrikCollection(stored[:2])  # the bad one comes by constructor or by add_request
    for r in stored[2:]:
        c.add_request(r)
    message = f"cannot export the request at position {good_before} of the collection: its url '{bad}' holds fewer than two '/'"
    for _ in range(2):
        with pytest.raises(ValueError) as info:
            c.export_collection()
        assert type(info.value) is ValueError and info.value.args == (message,)
    c.add_request(stored[-1])  # the read borrow is gone: the exclusive one can be taken
    assert commands(c.get_collection()) == commands(stored + stored[-1:])


def test_every_code_point_and_escape_at_every_position():
    # Plain runs are copied in blocks: each kind of character at every position of texts of 0 to 40.
    specials = '"\\\n\x00\x1f\x7f\u00e9\u2028\U0001f600'
    data = [
        ("s://h/" + t, [(t, t)], "PATCH", t) for t in placed("a\u00e9\x01\U0001f600", specials, 40)
    ]
    data += [("s://h/" + ALL, [(ALL, ALL)], "POST", ALL), ("s://" + ALL, [], "GET", None)]
    assert PemrikCollection(make(data)).export_collection() == export_text(data)


FORMS = [f"PemrikCollection({a})" for a in ("rs", "tuple(rs)", "collection=rs", "rs or None")]
CUT = records(st.characters(exclude_categories=["Cs"]), cut=True)


ADDED = st.lists(st.tuples(CUT, st.booleans()), max_size=5)  # by position or by keyword


@given(st.lists(CUT, max_size=5), ADDED, st.sampled_from(FORMS))
def test_stored_in_order_and_exported_as_the_document(initial, added, form):
    c = eval(form, globals(), {"rs": make(initial)})
    for record, keyword in added:
        r = make([record])[0]
        assert (c.add_request(pemrik=r) if keyword else c.add_request(r)) is None
    data = initial + [record for record, _ in added]
    expected = None if not data and "None" in form else [curl_line(*r) for r in data]
    assert commands(c.get_collection()) == expected
    text = c.export_collection()
    assert text == export_text(data) == c.export_collection() and conforms(text)


def test_copies_in_and_out():
    url, body = "".join(["https://h/", "items"]), "".join(["{", "}"])
    r = Pemrik(url, [("Accept", "application/json")], HTTPMETHOD.POST, body)
    given_list, before = [r, r], [sys.getrefcount(o) for o in (r, url, body)]
    c = PemrikCollection(given_list)
    c.add_request(r)
    assert [sys.getrefcount(o) for o in (r, url, body)] == before  # it keeps nothing it was given
    expected, text = [r.get_request_command()] * 3, c.export_collection()
    first, second = c.get_collection(), c.get_collection()
    assert len({id(o) for o in first + second + [r]}) == 7 and commands(first) == expected
    assert commands(second) == expected
    # what went in or came out belongs to the script: changing or dropping it changes nothing
    given_list[0] = first[0] = Pemrik("s://b/", [], GET)
    second.clear()
    del r, url, body, given_list, second
    gc.collect()
    assert commands(c.get_collection()) == expected and c.export_collection() == text
    out = c.get_collection()
    del c  # requests that came out outlive their collection and go into another one
    gc.collect()
    assert commands(PemrikCollection(out).get_collection()) == expected
