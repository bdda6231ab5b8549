"""The curl line (as bash splits it into words) and the exported document against the oracles."""

import itertools
import os
import subprocess
import sys

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import lines, make, outcome
from support.oracles import BARE, METHODS, curl_line, curl_words, export_text, url_doc

SPECIAL = "'\"\\$`@!#&;|<>(){}[]*?~= \t\n\r\x01\x08\x0b\x0c\x1f\x7f-%:,./_é\u2028\U0001f600"
TEXT = st.text(st.sampled_from(SPECIAL) | st.characters(exclude_categories=["Cs"]), max_size=16)
SCHEMES = st.text(st.sampled_from("aZ09+-.:_ \u00e9\u0663/!"), max_size=6)
URLS = st.builds("{}://{}".format, SCHEMES, TEXT) | st.lists(TEXT, min_size=1).map("/".join)
CUT = (URLS | st.builds("//{}".format, TEXT)).filter(lambda url: url_doc(url)["host"] != "")
ANY = CUT | TEXT | st.from_regex(BARE, fullmatch=True)  # CUT: a url the export can cut
HEADERS = st.lists(st.tuples(TEXT, TEXT), max_size=3)
BODIES = st.none() | TEXT | TEXT.map("@".__add__)


def placed(grounds, specials, longest):  # each special at every position of texts up to longest
    kinds = itertools.product(grounds, specials, range(longest + 1))
    return [g * i + s + g * (n - i - 1) for g, s, n in kinds for i in range(n)]


CHARS = [chr(c) for c in [*range(1, 0x250), 0x2028, 0xFEFF, 0xFFFF, 0x1F600, 0x10FFFF]]
SWEEP = [t for c in CHARS for t in (c, f"a{c}b{c}")] + placed("x", "'\"\\$`é\U0001f600 ", 23)
REFUSED = [  # requests no command line carries
    ("s://h", [("@file", "x")], "GET", None),
    ("s://h\0", [("@a", "\0")], "GET", "\0"),
    ("s://h", [("A", "1"), ("B", "x\r\nInjected: 1")], "GET", None),
    ("s://h", [], "GET", "a\0b"),
    ("s://h", [("A\nB", "1")], "GET", "@x"),
    ("s://h", [("A", "\0")], "GET", "x"),
]


@example(REFUSED)
@example([(t, [(t, t)], METHODS[i % len(METHODS)], t) for i, t in enumerate(SWEEP)])
@given(st.lists(st.tuples(ANY, HEADERS, st.sampled_from(METHODS), BODIES)))
def test_lines_are_the_oracles_and_bash_reads_back_the_words(batch):
    assert lines(make(batch)) == [outcome(curl_line, *r) for r in batch]
    batch = [r for r in batch if isinstance(outcome(curl_line, *r), str)]
    script = 'curl() { printf \'%s\\0\' "$#" "$@"; }\n' + "\n".join(lines(make(batch))) + "\n"
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"}
    done = subprocess.run(["bash"], input=script.encode(), capture_output=True, env=env)
    assert done.returncode == 0 and done.stderr == b"", done.stderr
    fields = iter(done.stdout.decode(errors="surrogateescape").split("\0")[:-1])
    words = [[next(fields) for _ in range(int(count))] for count in fields]
    assert words == [curl_words(*r) for r in batch]


@pytest.mark.parametrize("bad", ["", "/", "/api/x", "http:///x", "//", "///x", "x://", "/\x00é"])
def test_url_without_host(bad):
    data = [("s://h/0", [], "GET", None), (bad, [], "PUT", "x"), ("b/", [], "GET", None)]
    collection = PemrikCollection(make(data))
    assert outcome(collection.export_collection) == outcome(export_text, data)
    collection.add_request(collection.get_collection()[0])  # the read borrow is gone


FORMS = [PemrikCollection, lambda rs: PemrikCollection(tuple(rs))]
FORMS += [lambda rs: PemrikCollection(collection=rs), lambda rs: PemrikCollection(rs or None)]
CUT_BY_HAND = ["127.0.0.1:8771/api/items/7", "//h:1/a/", "a//b//c", "host", "http:/x/y", "x://h"]
CUT_BY_HAND += ["x/http://h/y", "git+ssh://u@h:22/r", "a1.b-c+d://h/", "h://a/b?u=http://c#f"]
NOT_SCHEMES = ["1a", "+a", "", " a", "a_b", "a!b", "\u212a", "a\u0663", "a\0"]
CUT_BY_HAND += [f"{no}://h/x" for no in NOT_SCHEMES]
ALL = "".join(chr(c) for c in range(0x110000) if not 0xD800 <= c < 0xE000)  # all UTF-8 carries
ESCAPES = placed("a\u00e9\x01\U0001f600", '"\\\n\x00\x1f\x7f\u00e9\u2028\U0001f600', 40)
EVERY = [("s://h/" + t, [(t, t)], "PATCH", t) for t in ESCAPES]  # each JSON escape everywhere
EVERY += [("s://h/" + ALL, [(ALL, ALL)], "POST", ALL), ("s://" + ALL, [], "GET", None)]
STORED = st.lists(st.tuples(CUT, HEADERS, st.sampled_from(METHODS), BODIES), max_size=5)


@example([(url, [], "GET", None) for url in CUT_BY_HAND] + REFUSED, [], FORMS[0])
@example(EVERY, [], FORMS[0])
@example([], [], FORMS[3])
@given(STORED, STORED, st.sampled_from(FORMS))
def test_stored_in_order_and_exported_as_the_document(initial, added, form):
    add = (collection := form(make(initial))).add_request
    for i, request in enumerate(make(added)):  # by position and by keyword in turn
        assert (add(pemrik=request) if i % 2 else add(request)) is None
    data = initial + added
    expected = None if not data and form is FORMS[3] else [outcome(curl_line, *r) for r in data]
    assert lines(collection.get_collection()) == expected
    assert collection.export_collection() == export_text(data) == collection.export_collection()


def test_copies_in_and_out():  # it keeps nothing it was given; what comes out is new
    url, headers = "".join(["https://h/", "items"]), [("A", "b")]
    request = Pemrik(url, headers, HTTPMETHOD.POST, "{}")
    headers[0], before = ("Z", "9"), [sys.getrefcount(request), sys.getrefcount(url)]
    (collection := PemrikCollection([request, request])).add_request(request)
    assert [sys.getrefcount(request), sys.getrefcount(url)] == before
    out = collection.get_collection()
    assert len({request, *out, *collection.get_collection()}) == 7  # each equal to itself alone
    del request, url, collection  # what came out outlives what went in and the collection
    assert lines(out) == [curl_line("https://h/items", [("A", "b")], "POST", "{}")] * 3
