"""Exports against Postman's own tools: the official schema, and newman sending them
to local servers (HTTP and TLS) that record the bytes: what arrives must be what was
put in. The urls keep clear of what newman percent-encodes."""

import pytest

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS
from support.postman import RecordingServer, conforms, newman_command, run_newman, schema_errors

HEADERS = [("X-Q", 'it\'s "q" \\ $x `id`'), ("X-L", "\x80é\xff\tend"), ("!#$%&'*+-.^_`|~", "")]
BODY = '{"q": "it\'s \\"x\\" \\\\"}' + "".join(map(chr, range(32))) + "\x7fé中😀\u2028"
TARGET = "/{}/a!$'()*,;=@~?q=1&r=$(),*~"
URLS = "http://h:1//a//?q=1#f //h x://h file://h/x/y a//b//c h://a/b?u=http://c#f 'é/😀".split()


def export(requests):
    """Exports (url, headers, method name, body) tuples; none: a collection never given a list."""
    return PemrikCollection(
        [Pemrik(u, h, getattr(HTTPMETHOD, m), b) for u, h, m, b in requests] or None
    ).export_collection()


VARIED = [(u, HEADERS, m, b) for u in URLS for m in METHODS for b in (None, "", BODY)]


@pytest.mark.parametrize("requests", [[], VARIED], ids=["empty", "varied"])
def test_exports_follow_the_schema(requests):
    assert schema_errors(export(requests)) == []
    assert not conforms('{"item": {}}')  # the schema refuses what breaks it


def sent(method):
    """newman drops the body of GET and HEAD; header values go as Latin-1, or UTF-8 with a body."""
    body = BODY if method not in ("GET", "HEAD") else ""
    headers = [(n.encode(), b" " + v.encode("utf-8" if body else "latin-1")) for n, v in HEADERS]
    return method.encode(), TARGET.format(method).encode(), headers, body.encode()


def test_newman_sends_exports_as_put_in(tmp_path):
    newman_command()  # skips (or fails) before the servers start when newman is missing
    hang_up = {b"CONNECT"}  # newman takes any answer to CONNECT as a tunnel, and stops
    with RecordingServer(hang_up=hang_up) as plain, RecordingServer(tmp_path, hang_up) as secure:
        cases = [
            (s.base + TARGET.format(m), HEADERS, m, BODY) for s in (plain, secure) for m in METHODS
        ]
        # without a scheme (the protocol is https), the host is what stands before the first "/"
        # or after a leading "//"
        bare = secure.base.removeprefix("https://")
        cases += [
            (b + TARGET.format(m), HEADERS, m, BODY)
            for b, m in [(bare, "PUT"), ("//" + bare, "GET")]
        ]
        printed = run_newman(export(cases), tmp_path)
        for server, methods in ((plain, METHODS), (secure, [*METHODS, "PUT", "GET"])):
            # the request's own headers come first, then those newman adds
            got = [(m, t, h[: len(HEADERS)], b) for m, t, h, b in server.received]
            assert got == [sent(m) for m in methods], printed
