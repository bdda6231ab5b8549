"""The curl line and the exported document: against the oracles, bash, and lines by hand."""

import gc
import itertools
import os
import subprocess
import sys

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS, lines, outcome
from support.oracles import SCHEMA, curl_line, curl_refusal, curl_words, export_text, url_doc
from support.postman import conforms

GET, BARE = HTTPMETHOD.GET, "ABCXYZabcxyz0189@%+=:,./-_"
# Every code point that a str can carry to UTF-8 (lone surrogates cannot).
ALL = "".join(chr(c) for c in range(0x110000) if not 0xD800 <= c < 0xE000)


def make(data):
    return [Pemrik(url, list(hs), getattr(HTTPMETHOD, m), body) for url, hs, m, body in data]


def placed(grounds, specials, longest):  # each special at every position of texts up to longest
    kinds = itertools.product(grounds, specials, range(longest + 1))
    return [g * i + s + g * (n - i - 1) for g, s, n in kinds for i in range(n)]


CASES = [  # (url, headers, method name, body) and its line, written out by hand
    (("", [("A", "1")], "GET", ""), """curl -X GET '' -H "A: 1" -d ''"""),
    (("/a b", [("A", 'x"y')], "PUT", "it's"), """curl -X PUT '/a b' -H "A: x\\"y" -d 'it'\\''s'"""),
    (
        ("", [('\\"$`', "$(echo injected)\té")], "GET", None),
        'curl -X GET \'\' -H "\\\\\\"\\$\\`: \\$(echo injected)\té"',
    ),
    (("/", [], "POST", "@'"), "curl -X POST / --data-raw '@'\\'''"),
    (("/", [], "POST", " @x"), "curl -X POST / -d ' @x'"),
    ((BARE, [], "CONNECT", None), f"curl -X CONNECT {BARE}"),
]


SPECIAL = "'\"\\$`@!#&;|<>(){}[]*?~= \t\n\r\x01\x08\x0b\x0c\x1f\x7f-%:,./_é\u2028\U0001f600"
SCHEMES = st.from_regex(r"[A-Za-z][A-Za-z0-9+.\-]{0,5}", fullmatch=True)
SCHEMES |= st.text(st.sampled_from("aZ09+-.:_ \u00e9\u0663/!"), max_size=4)


def records(chars, cut=False):  # cut: only urls with a host, which the export can cut
    text = st.text(st.sampled_from(SPECIAL) | chars, max_size=16)
    urls = st.builds("{}://{}".format, SCHEMES, text) | st.lists(text, min_size=1).map("/".join)
    urls = (urls | st.builds("//{}".format, text)).filter(lambda u: url_doc(u)["host"] != "")
    urls = urls if cut else urls | text | st.text(st.sampled_from(BARE))
    body = st.none() | text | text.map("@".__add__)
    headers = st.lists(st.tuples(text, text), max_size=3)
    return st.tuples(urls, headers, st.sampled_from(METHODS), body)


CHARS = [chr(c) for c in [*range(1, 0x250), 0x2028, 0xFEFF, 0xFFFF, 0x1F600, 0x10FFFF]]
SWEEP = [t for c in CHARS for t in (c, f"a{c}b{c}")] + placed("x", "'\"\\$`é\U0001f600 ", 23)
BASH = ["bash", "--norc", "--noprofile"]


@example([r for r, _ in CASES])  # and each character, and each special one at every position:
@example([(t, [(t, t)], METHODS[i % len(METHODS)], t) for i, t in enumerate(SWEEP)])
@given(st.lists(records(st.characters(exclude_categories=["Cs"]))))
def test_lines_are_the_oracles_and_bash_reads_back_the_fields(batch):
    """Runs the command lines in one bash, with curl a function printing its arguments."""
    assert lines(make(batch)) == [outcome(curl_line, *r) for r in batch]
    batch = [r for r in batch if not curl_refusal(*r[:2], r[3])]  # refused: see the test below
    rendered = lines(make(batch))
    script = 'curl() { printf \'%s\\0\' "$#" "$@"; }\n' + "".join(line + "\n" for line in rendered)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"}
    done = subprocess.run(BASH, input=script.encode(), capture_output=True, env=env)
    assert done.returncode == 0 and done.stderr == b"", done.stderr
    fields = iter(done.stdout.decode(errors="surrogateescape").split("\0")[:-1])
    words = [[next(fields) for _ in range(int(n))] for n in fields]
    assert words == [curl_words(*r) for r in batch]


REFUSED = {  # requests that no command line carries, and the text the refusal names
    ("s://h", (("@file", "x"),), None): "the name of header 0",
    ("s://h", (("A", "1"), ("B", "x\r\nInjected: 1")), None): "the value of header 1",
    ("s://h", (("A\nB", "1"),), "@x"): "the name of header 0",
    ("s://h\0", (("@a", "\0"),), "\0"): "the url",
    ("s://h", (("A", "\0"),), "x"): "the value of header 0",
    ("s://h", (), "a\0b"): "the body",
}


@pytest.mark.parametrize("url, headers, body", REFUSED)
def test_refused_command_lines(url, headers, body):
    r = Pemrik(url, headers, GET, body)
    with pytest.raises(ValueError) as info:
        r.get_request_command()
    assert str(info.value) == curl_refusal(url, headers, body)
    assert f": {REFUSED[url, headers, body]} " in str(info.value)
    exported = PemrikCollection([r]).export_collection()  # the request stays usable
    assert exported == export_text([(url, headers, "GET", body)])


NO_SCHEME = ("1a", "+a", "", " http", "a_b", "a!b", "\u212a", "a\u0663", "http\x00")
URLS = {  # url: its protocol, host and path; https when there is no scheme
    "127.0.0.1:8771/api/items/7": ("https", "127.0.0.1:8771", ["api", "items", "7"]),
    "//h:1/a/": ("https", "h:1", ["a", ""]),
    "a//b//c": ("https", "a", ["", "b", "", "c"]),
    "a/b": ("https", "a", ["b"]),
    "host": ("https", "host", []),
    "http:/x/y": ("https", "http:", ["x", "y"]),
    "x/http://h/y": ("https", "x", ["http:", "", "h", "y"]),
    **{f"{s}://h/x": ("https", f"{s}:", ["", "h", "x"]) for s in NO_SCHEME},
    "x://h": ("x", "h", []),
    "git+ssh://u@h:22/r": ("git+ssh", "u@h:22", ["r"]),
    "a1.b-c+d://h/": ("a1.b-c+d", "h", [""]),
    "h://a/b?u=http://c#f": ("h", "a", ["b?u=http:", "", "c#f"]),
}


def test_texts_written_out_by_hand():
    assert [curl_line(*r) for r, _ in CASES] == [line for _, line in CASES]  # module: bash test
    c = PemrikCollection([Pemrik("http://1.2.3.4:80/a/b?c=/", [("A", "b")], GET)])
    assert c.export_collection() == (
        '{"info":{"name":"Pemrik Collection","schema":"' + SCHEMA + '"},"item":[{"name":'
        '"http://1.2.3.4:80/a/b?c=/","request":{"body":{"mode":"raw","raw":""},"header":[{"key":'
        '"A","value":"b"}],"method":"GET","url":{"host":"1.2.3.4:80","path":["a","b?c=",""],'
        '"protocol":"http","raw":"http://1.2.3.4:80/a/b?c=/"}}}]}'
    )
    got = {u: (d["protocol"], d["host"], d["path"]) for u in URLS if (d := url_doc(u))}
    assert got == URLS  # by the oracle; by the module in the document test


@pytest.mark.parametrize("bad", ["", "/", "/api/x", "http:///x", "//", "///x", "x://", "/\x00é"])
@pytest.mark.parametrize("at", [0, 2])  # the bad one comes by constructor or by add_request
def test_url_without_host(bad, at):
    stored = [Pemrik(u, [], GET) for u in [*[f"s://h/{i}" for i in range(at)], bad, "b/", "s://h"]]
    c = PemrikCollection(stored[:2])
    [c.add_request(r) for r in stored[2:]]
    message = (
        f"cannot export the request at position {at} of the collection: its url '{bad}' has no host"
    )
    with pytest.raises(ValueError) as info:
        c.export_collection()
    assert (type(info.value), info.value.args) == (ValueError, (message,))
    c.add_request(stored[-1])  # the read borrow is gone: the exclusive one can be taken


FORMS = [f"PemrikCollection({a})" for a in ("rs", "tuple(rs)", "collection=rs", "rs or None")]
FORM, CUT = st.sampled_from(FORMS), records(st.characters(exclude_categories=["Cs"]), cut=True)
# Plain runs are copied in blocks: each kind of character at every position of texts of 0 to 40.
ESCAPES = placed("a\u00e9\x01\U0001f600", '"\\\n\x00\x1f\x7f\u00e9\u2028\U0001f600', 40)
EVERY = [("s://h/" + t, [(t, t)], "PATCH", t) for t in ESCAPES]
EVERY += [("s://h/" + ALL, [(ALL, ALL)], "POST", ALL), ("s://" + ALL, [], "GET", None)]


@example([(url, [], "GET", None) for url in URLS], [], FORMS[0])  # the urls cut by hand above
@example(EVERY, [], FORMS[0])
@example([], [], FORMS[3])
@given(st.lists(CUT, max_size=5), st.lists(st.tuples(CUT, st.booleans()), max_size=5), FORM)
def test_stored_in_order_and_exported_as_the_document(initial, added, form):
    c = eval(form, globals(), {"rs": make(initial)})
    for r, (_, keyword) in zip(make([a for a, _ in added]), added, strict=True):  # keyword or not
        assert (c.add_request(pemrik=r) if keyword else c.add_request(r)) is None
    data = initial + [record for record, _ in added]
    expected = None if not data and "None" in form else [outcome(curl_line, *r) for r in data]
    assert lines(c.get_collection()) == expected
    assert (text := c.export_collection()) == export_text(data) == c.export_collection()
    assert initial is EVERY or conforms(text)  # the schema takes seconds over the sweep


def test_copies_in_and_out():
    url, headers = "".join(["https://h/", "items"]), [("A", "b")]
    r = Pemrik(url, headers, HTTPMETHOD.POST, "{}")
    headers[0], before = ("Z", "9"), [sys.getrefcount(r), sys.getrefcount(url)]
    c = PemrikCollection([r, r])
    c.add_request(r)
    assert [sys.getrefcount(r), sys.getrefcount(url)] == before  # it keeps nothing it was given
    out = c.get_collection()
    assert len({r, *out, *c.get_collection()}) == 7  # new objects, each equal to itself only
    del r, url, c  # what came out outlives what went in and the collection
    gc.collect()
    assert lines(out) == [curl_line("https://h/items", [("A", "b")], "POST", "{}")] * 3
