"""export_collection: the collection document and its compact JSON text."""

import json

import pytest
from hypothesis import given
from hypothesis import strategies as st
from python_postman import PythonPostman

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS
from support.oracles import SCHEMA, export_text, url_doc
from support.postman import conforms, schema_errors

# Every code point that a str can carry to UTF-8 (lone surrogates cannot).
ALL = "".join(chr(c) for c in range(0x110000) if not 0xD800 <= c < 0xE000)


def make(data):
    return [
        Pemrik(url, list(headers), getattr(HTTPMETHOD, m), body) for url, headers, m, body in data
    ]


def export(data):
    text = PemrikCollection(make(data)).export_collection()
    assert conforms(text), schema_errors(text)
    return text


def commands(requests):
    return [r.get_request_command() for r in requests]


def test_worked_example():
    c = PemrikCollection()
    c.add_request(
        Pemrik(
            "http://127.0.0.1:8080/api/items?id=7", [("Accept", "application/json")], HTTPMETHOD.GET
        )
    )
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
    for c in (
        PemrikCollection(),
        PemrikCollection(None),
        PemrikCollection([]),
        PemrikCollection(()),
    ):
        assert c.export_collection() == export_text([])


@pytest.mark.parametrize(
    "url, host, path, protocol",
    [
        ("a//b//c", "b", ["", "c"], "https"),
        ("a/b/c", "c", [], "https"),
        ("x://", "", [], "x"),
        ("file:///x/y", "", ["x", "y"], "file"),
        ("git+ssh://u:pw@h:22/r.git", "u:pw@h:22", ["r.git"], "git+ssh"),
        ("a1.b-c+d://h/", "h", [""], "a1.b-c+d"),
        ("h://a/b?u=http://c#f", "a", ["b?u=http:", "", "c#f"], "h"),
        # no scheme in front of "://": the protocol stays "https"
        *[
            (f"{s}://h/x", "h", ["x"], "https")
            for s in ("1a", "+a", "", " http", "a_b", "\u212a", "a\u0663", "http\x00")
        ],
        ("http:/x/y", "y", [], "https"),
        ("x/http://h/y", "", ["h", "y"], "https"),
    ],
)
def test_url_cutting(url, host, path, protocol):
    item = json.loads(export([(url, [], "GET", None)]))["item"][0]
    assert (
        item["request"]["url"]
        == url_doc(url)
        == {"host": host, "path": path, "protocol": protocol, "raw": url}
    )


@pytest.mark.parametrize("bad", ["", "/", "http:/x", "it's /\u00e9\U0001f600", "a\x00b/c"])
@pytest.mark.parametrize("good_before", [0, 2])
def test_url_with_fewer_than_two_slashes(bad, good_before):
    good = [(f"s://h/{i}", [], "GET", None) for i in range(good_before)]
    stored = make(
        good
        + [
            (bad, [("k", "v")], "PUT", "b"),
            ("also/bad", [], "GET", None),
            ("s://h/after", [], "GET", None),
        ]
    )
    c = PemrikCollection(stored[:2])  # the bad one comes by constructor or by add_request
    for r in stored[2:]:
        c.add_request(r)
    message = (
        f"cannot export the request at position {good_before} of the collection: "
        f"its url '{bad}' holds fewer than two '/'"
    )
    for _ in range(2):
        with pytest.raises(ValueError) as info:
            c.export_collection()
        assert type(info.value) is ValueError and info.value.args == (message,)
    c.add_request(stored[-1])  # the read borrow is gone: the exclusive one can be taken
    assert commands(c.get_collection()) == commands(stored + stored[-1:])


def test_every_code_point_and_escape_at_every_position():
    # Plain runs are copied in blocks: one character of each kind at every position of texts of 0 to 40.
    grounds = ("a", "\u00e9", "\x01", "\U0001f600")
    samples = [
        g * i + special + g * (n - i - 1)
        for g in grounds
        for n in range(41)
        for special in '"\\\n\x00\x1f\x7f\u00e9\u2028\U0001f600'
        for i in range(n)
    ]
    data = [("s://h/" + t, [(t, t)], "PATCH", t) for t in samples]
    data += [("s://h/" + ALL, [(ALL, ALL)], "POST", ALL), ("s://" + ALL, [], "GET", None)]
    assert PemrikCollection(make(data)).export_collection() == export_text(data)


texts = st.text(
    st.sampled_from('"\\/\x00\x08\t\n\x0b\x0c\r\x1f\x7f:\u00e9\u2028\U0001f600')
    | st.characters(exclude_categories=["Cs"]),
    max_size=12,
)
schemes = st.from_regex(r"[A-Za-z][A-Za-z0-9+.\-]{0,5}", fullmatch=True) | st.text(
    st.sampled_from("aZ09+-.:_ \u00e9\u0663/"), max_size=4
)
urls = st.builds(lambda s, rest: s + "://" + rest, schemes, texts) | st.lists(
    texts, min_size=3, max_size=6
).map("/".join)
requests = st.tuples(
    urls, st.lists(st.tuples(texts, texts), max_size=3), st.sampled_from(METHODS), st.none() | texts
)


@given(st.lists(requests, max_size=5), st.booleans())
def test_export_matches_json_dumps_of_the_document(data, one_by_one):
    c = PemrikCollection(None if one_by_one else make(data))
    for r in make(data) if one_by_one else []:
        c.add_request(r)
    text = c.export_collection()
    assert text == export_text(data) == c.export_collection() and conforms(text)


@given(st.lists(requests, min_size=1, max_size=5))
def test_read_back_by_a_postman_collection_reader(data):
    collection = PythonPostman.from_json(export(data))
    assert (collection.info.name, collection.info.schema) == ("Pemrik Collection", SCHEMA)
    got = list(collection.get_requests())
    assert len(got) == len(data)
    for request, (url, headers, method, body) in zip(got, data, strict=True):
        pieces = url.split("/")
        assert (request.name, request.method, request.url.raw, request.url.to_string()) == (
            url,
            method,
            url,
            url,
        )
        assert request.url.protocol == url_doc(url)["protocol"]
        # the reader keeps the host as a list of labels, an empty host as none
        assert (
            request.url.host == ([pieces[2]] if pieces[2] else [])
            and request.url.path == pieces[3:]
        )
        assert [(h.key, h.value) for h in request.headers] == headers
        assert (request.body.mode, request.body.raw) == ("raw", "" if body is None else body)
