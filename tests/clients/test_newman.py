"""Exported collections run by Postman's own runner, newman, against local
servers (plain HTTP and TLS) that record the raw bytes of every request.

What newman itself does to a request is written out below as `as_sent`, rule
by rule, the same list as README's behaviour notes; any other difference
between what was put in and what arrived fails. Each newman run carries a
whole collection, so the suite starts few node processes."""

import re
from typing import NamedTuple

import pytest
from hypothesis import Phase, given, settings
from hypothesis import strategies as st

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS
from support.postman import conforms, newman_command, run_newman, unavailable
from support.servers import RecordingServer, self_signed_context

# ---- what newman changes -------------------------------------------------------

# Headers newman adds unless the request has one of the same name (any case),
# in the order it writes them after the request's own.
ADDED = [
    ("content-type", re.compile(rb"text/plain")),  # only with a body
    ("user-agent", re.compile(rb"PostmanRuntime/\d+\.\d+\.\d+")),
    ("accept", re.compile(rb"\*/\*")),
    ("cache-control", re.compile(rb"no-cache")),
    ("postman-token", re.compile(rb"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")),
    ("host", None),  # 127.0.0.1:port
    ("accept-encoding", re.compile(rb"gzip, deflate, br")),
    ("connection", re.compile(rb"keep-alive")),
    ("content-length", None),  # the body's length in bytes
]
BODY_DROPPED = {"GET", "HEAD"}  # newman sends these without the body
LENGTH_WHEN_EMPTY = {
    "POST",
    "PUT",
    "PATCH",
}  # and these with Content-Length: 0 when the body is empty
# Percent-encoded (as UTF-8 bytes) in the url's path and in its query; so is every
# control character and every character outside ASCII.
PATH_ENCODED = set(' "<>`{}')
QUERY_ENCODED = set(" \"'<>")
TOKEN = re.compile(r"[!#$%&'*+\-.^_`|~0-9A-Za-z]+")
VALUE = re.compile(r"[\t\x20-\x7e\x80-\xff]*")
ARRAY_INDEX = re.compile(r"0|[1-9][0-9]*")
DYNAMIC = {
    "{{$guid}}": rb"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}",
    "{{$timestamp}}": rb"[0-9]{10}",
    "{{$randomInt}}": rb"[0-9]{1,4}",
}


class Sent(NamedTuple):
    scheme: str
    method: bytes
    target: bytes
    headers: list[tuple[bytes, bytes | re.Pattern]]
    body: bytes | re.Pattern
    refused: str | None  # the error newman reports instead of sending, if any


def percent_encoded(text, encoded):
    return "".join(
        "".join(f"%{b:02X}" for b in ch.encode())
        if ch in encoded or ord(ch) < 0x21 or ord(ch) >= 0x7F
        else ch
        for ch in text
    )


def target_sent(url):
    """The request target newman writes for a url cut by the export."""
    rest = "/" + "/".join(url.split("/")[3:])
    rest = rest.split("#", 1)[0]  # the fragment stays behind
    path, mark, query = rest.partition("?")
    path = path.replace("\\", "/")  # a backslash in the path is a slash
    return (
        percent_encoded(path, PATH_ENCODED) + mark + percent_encoded(query, QUERY_ENCODED)
    ).encode()


def text_sent(text, encoding):
    """A header value or body: dynamic variables replaced by fresh values."""
    if not any(v in text for v in DYNAMIC):
        return text.encode(encoding)
    pattern = re.escape(text.encode(encoding))
    for variable, value in DYNAMIC.items():
        pattern = pattern.replace(re.escape(variable.encode()), value)
    return re.compile(pattern)


def headers_sent(headers):
    """The request's own headers as newman sends them. They pass through a
    JavaScript object: an empty name and "__proto__" are lost, values of one
    exact name are gathered at its first place, names that are array indices
    come first in numeric order, and a name that matches an earlier one in
    another case takes that one's place, values and all."""
    groups = {}
    for name, value in headers:
        if name not in ("", "__proto__"):
            groups.setdefault(name, []).append(value)
    numeric = sorted(
        (n for n in groups if ARRAY_INDEX.fullmatch(n) and int(n) < 2**32 - 1), key=int
    )
    folded = []
    for name in numeric + [n for n in groups if n not in numeric]:
        same = [i for i, (n, _) in enumerate(folded) if n.lower() == name.lower()]
        if same:
            folded[same[0]] = (name, groups[name])
        else:
            folded.append((name, groups[name]))
    return [(n, v) for n, values in folded for v in values]


def as_sent(url, headers, method, body, host):
    scheme = url.split(":", 1)[0]
    own = headers_sent(headers)
    for name, value in own:
        if not TOKEN.fullmatch(name):
            return Sent(scheme, method.encode(), b"", [], b"", "ERR_INVALID_HTTP_TOKEN")
        if not VALUE.fullmatch(value):
            return Sent(scheme, method.encode(), b"", [], b"", "ERR_INVALID_CHAR")
    body = "" if body is None or method in BODY_DROPPED else body
    # Node writes the head as Latin-1, or as UTF-8 when the body goes out with it.
    encoding = "utf-8" if body else "latin-1"
    sent_headers = [(n.encode(), text_sent(v, encoding)) for n, v in own]
    given = {n.lower() for n, _ in own}
    sent_body = text_sent(body, "utf-8")
    for name, value in ADDED:
        if (
            name in given
            or (name == "content-type" and not body)
            or (name == "content-length" and not body and method not in LENGTH_WHEN_EMPTY)
        ):
            continue
        if name == "host":
            value = host.encode()
        elif name == "content-length":
            value = (
                str(len(body.encode())).encode()
                if isinstance(sent_body, bytes)
                else re.compile(rb"\d+")
            )
        sent_headers.append((name.encode(), value))
    return Sent(
        scheme,
        method.encode(),
        target_sent(url),
        sent_headers,
        sent_body,
        "ECONNRESET" if method == "CONNECT" else None,
    )  # the test server hangs up on CONNECT


def same(expected, got):
    if isinstance(expected, re.Pattern):
        return expected.fullmatch(got) is not None
    return expected == got


def headers_match(expected, got):
    """Names as given (newman's own in any case), each value after one blank."""
    return len(expected) == len(got) and all(
        n.lower() == m.lower()
        and (n == m or n.decode() in dict(ADDED))
        and w[:1] == b" "
        and same(v, w[1:])
        for (n, v), (m, w) in zip(expected, got, strict=False)
    )


# ---- the replay ----------------------------------------------------------------


@pytest.fixture(scope="module")
def replay(tmp_path_factory):
    """Exports the cases as one collection, runs it with newman once and
    checks every request against as_sent; returns how many arrived."""
    newman_command()  # skips here, before servers start, when newman is missing
    folder = tmp_path_factory.mktemp("newman")
    tls = self_signed_context(folder)
    if tls is None:
        unavailable("openssl is missing: the https cases need a self-signed certificate")
    hang_up = frozenset({b"CONNECT"})
    with (
        RecordingServer(hang_up_on=hang_up) as plain,
        RecordingServer(tls, hang_up_on=hang_up) as secure,
    ):
        servers = {"http": plain, "https": secure}

        def run(cases):
            cases = [
                (servers[scheme].base + rest, headers, method, body)
                for scheme, method, rest, headers, body in cases
            ]
            text = PemrikCollection(
                [Pemrik(u, h, getattr(HTTPMETHOD, m), b) for u, h, m, b in cases]
            ).export_collection()
            assert conforms(text)
            for server in servers.values():
                server.take()
            report = run_newman(text, folder, "--insecure")
            executions = report["run"]["executions"]
            assert [e["item"]["name"] for e in executions] == [u for u, *_ in cases]
            expected = [as_sent(u, h, m, b, u.split("/")[2]) for u, h, m, b in cases]
            errors = [(e.get("requestError") or {}).get("code") for e in executions]
            assert errors == [s.refused for s in expected], list(zip(errors, cases, strict=False))
            arrived = 0
            for scheme, server in servers.items():
                got = server.take()
                want = [
                    (s, c)
                    for s, c in zip(expected, cases, strict=False)
                    if s.scheme == scheme and s.refused in (None, "ECONNRESET")
                ]
                assert [r.target for r in got] == [s.target for s, _ in want], scheme
                for (s, case), r in zip(want, got, strict=False):
                    assert r.method == s.method, case
                    assert headers_match(s.headers, r.headers), (case, r.headers, s.headers)
                    assert same(s.body, r.body), (case, r.body)
                assert not server.failures, server.failures
                arrived += len(got)
            return arrived

        yield run


LATIN = "\x80é\xff"
CASES = [
    # every method, with and without a body
    *[
        ("http", m, f"/m/{m}", [("X-M", m)], body)
        for m in METHODS
        for body in (f"body of {m}", None)
    ],
    *[("https", m, f"/tls/{m}?q=1", [("X-M", m)], "é") for m in METHODS],
    ("http", "POST", "/empty", [], ""),
    ("http", "DELETE", "/empty", [], ""),
    # urls: ports, queries, trailing and doubled slashes, characters newman encodes
    ("http", "GET", "/", [], None),
    ("http", "GET", "", [], None),
    ("http", "PUT", "//a//b//", [], "x"),
    ("http", "GET", "/api/items?id=7&id=8&b=&c&=d&e=f=g&sp=%20x+y&pct=%zz&u=é中😀", [], None),
    (
        "http",
        "GET",
        "/p !\"$%&'()*+,-.:;<=>@[\\]^_`{|}~é?q !\"$%&'()*+,-.:;<=>@[\\]^_`{|}~é?/",
        [],
        None,
    ),
    ("http", "GET", "/ctl\x01\x1f\x7f\t?c=\x01\x1f\x7f\t", [], None),
    ("http", "GET", "/dots/./x/../y/..", [], None),
    ("http", "GET", "/a?b/c?d#frag?x", [], None),
    ("http", "GET", "/q?#", [], None),
    ("https", "PATCH", "/a//b/?x=1&y=2#f", [("Accept", "application/json")], '{"id": 7}'),
    # headers: quotes, backslashes, Latin-1, empty values, duplicates in any case
    (
        "http",
        "POST",
        "/h",
        [
            ("X-Q", 'it\'s "quoted" \\ \\n'),
            ("X-L", LATIN),
            ("X-E", ""),
            ("X-Sp", " padded\t"),
            ("X-Dup", "1"),
            ("X-Dup", "2"),
        ],
        "ü\x00\r\n",
    ),
    ("http", "GET", "/h", [("X-L", LATIN), ("X-E", "")], None),
    (
        "http",
        "GET",
        "/case",
        [("A", "1"), ("B", "2"), ("a", "3"), ("b", "4"), ("A", "5"), ("C", "6")],
        None,
    ),
    (
        "http",
        "GET",
        "/index",
        [("X", "1"), ("2", "2"), ("1", "3"), ("01", "4"), ("4294967295", "5"), ("4294967294", "6")],
        None,
    ),
    ("http", "GET", "/lost", [("", "no name"), ("__proto__", "p"), ("constructor", "c")], None),
    # the request's own spelling of what newman would add
    (
        "http",
        "POST",
        "/own",
        [
            ("host", "example.test"),
            ("User-Agent", "me"),
            ("content-type", "a/b"),
            ("Accept", ""),
            ("Connection", "close"),
            ("Accept-Encoding", "identity"),
            ("Cache-Control", "max-age=0"),
            ("Postman-Token", "t"),
            ("Content-Length", "1"),
        ],
        "y",
    ),
    # Postman's variables: dynamic ones get fresh values, unknown names stay
    (
        "http",
        "POST",
        "/vars/{{unknown}}",
        [("X-V", "{{$guid}} {{unknown}}")],
        "{{$timestamp}}/{{$randomInt}}",
    ),
    # what newman refuses to send
    ("http", "POST", "/refused", [("X-C", "中")], "x"),
    ("http", "POST", "/refused", [("X-C", "a\x01b")], "x"),
    ("http", "GET", "/refused", [("X-C", "a\r\nb")], None),
    ("http", "GET", "/refused", [("X Y", "1")], None),
    ("http", "GET", "/refused", [("é", "1")], None),
    ("http", "GET", "/after-the-refused", [], None),
]


def test_hard_cases(replay):
    refused = [c for c in CASES if c[2] == "/refused"]
    assert replay(CASES) == len(CASES) - len(refused)


# ---- generated cases ---------------------------------------------------------------


def no_variables(text):
    return "{{" not in text


url_text = st.text(
    st.characters(min_codepoint=0x20, max_codepoint=0x7E) | st.sampled_from("\t\x01é中😀/?#\\"),
    max_size=16,
).filter(no_variables)
names = st.sampled_from(
    ["X-A", "x-a", "X-a", "B", "b", "1", "2", "10", "01", "", "__proto__"]
) | st.text(st.sampled_from("!#$%&'*+-.^_`|~09azAZ"), min_size=1, max_size=6)
names = names.filter(
    lambda n: n.lower() not in dict(ADDED) and n.lower() not in ("expect", "transfer-encoding")
)
values = st.text(
    st.sampled_from("\t !\"'\\aZ~{}") | st.characters(min_codepoint=0x80, max_codepoint=0xFF),
    max_size=10,
).filter(no_variables)
bodies = st.none() | st.text(st.characters(exclude_categories=["Cs"]), max_size=20).filter(
    no_variables
)
requests = st.tuples(
    st.sampled_from(["http", "https"]),
    st.sampled_from(METHODS),
    url_text.map("/".__add__),
    st.lists(st.tuples(names, values), max_size=5),
    bodies,
)


# One newman run per example, and no shrinking: each step would start node again.
@settings(
    max_examples=max(3, settings().max_examples // 15),
    phases=[Phase.explicit, Phase.reuse, Phase.generate],
)
@given(st.lists(requests, min_size=10, max_size=30))
def test_generated_collections(replay, cases):
    replay(cases)
