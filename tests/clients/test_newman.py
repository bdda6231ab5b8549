"""Exports against Postman's schema, and sent by newman (HTTP and TLS) just as they were put in."""

from pemrik import PemrikCollection
from support.cases import METHODS, make
from support.postman import RecordingServer, run_newman, schema_errors

HEADERS = [("X-Q", 'it\'s "q" \\ $x `id`'), ("X-L", "\x80é\xff\tend"), ("!#$%&'*+-.^_`|~", "")]
BODY = '{"q": "it\'s \\"x\\" \\\\"}' + "".join(map(chr, range(32))) + "\x7fé中😀\u2028"
TARGET = "/{}/a!$'()*,;=@~?q=1&r=$(),*~"  # clear of what newman percent-encodes
ODD = "http://h:1//a//?q=1#f //h x://h file://h/x/y a//b//c h://a/b?u=http://c#f 'é/😀".split()


def sent(method):
    """newman drops the body of GET and HEAD; header values go as Latin-1, or UTF-8 with a body."""
    body = BODY if method not in ("GET", "HEAD") else ""
    headers = [(n.encode(), b" " + v.encode("utf-8" if body else "latin-1")) for n, v in HEADERS]
    return method.encode(), TARGET.format(method).encode(), headers, body.encode()


def test_exports_follow_the_schema_and_newman_sends_them_as_put_in(tmp_path):
    for data in ([], [(url, HEADERS, method, None) for url in ODD for method in METHODS]):
        assert schema_errors(PemrikCollection(make(data)).export_collection()) == []
    hang_up = {b"CONNECT"}  # newman takes any answer to CONNECT as a tunnel, and stops
    with RecordingServer(hang_up=hang_up) as plain, RecordingServer(tmp_path, hang_up) as secure:
        bare = secure.base.removeprefix("https://")  # no scheme: https, the host up to a "/"
        bases = [(server.base, m) for server in (plain, secure) for m in METHODS]
        bases += [(bare, "PUT"), ("//" + bare, "GET")]
        requests = make([(base + TARGET.format(m), HEADERS, m, BODY) for base, m in bases])
        assert schema_errors(text := PemrikCollection(requests).export_collection()) == []
        printed = run_newman(text, tmp_path)
    got = [(m, t, h[: len(HEADERS)], b) for m, t, h, b in plain.received + secure.received]  # ours
    assert got == [sent(m) for m in [*METHODS, *METHODS, "PUT", "GET"]], printed  # (then newman's)
