"""Command lines run by the real bash and curl against a local HTTP server.

Each rendered line must reach the server with exactly the request's method,
path and query, headers (in order, duplicates kept) and body. The server reads
the raw bytes itself, so nothing is normalised on the receiving side.

Inputs stay within what curl passes through unchanged: it refuses spaces and
control characters in a url, drops a fragment, expands {} and [] as globs,
removes dot segments, percent-encodes non-ASCII path bytes, drops a header
whose value is empty and trims white space around a header value.
"""

import os
import shutil
import socketserver
import subprocess
import threading
from http.server import ThreadingHTTPServer

import pytest
from hypothesis import given, strategies as st

from pemrik import HTTPMETHOD, Pemrik

pytestmark = pytest.mark.skipif(
    not (shutil.which("curl") and shutil.which("bash")), reason="needs curl and bash"
)

METHODS = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]
# Headers that curl writes by itself; the generated names avoid them.
CURL_OWN = {b"host", b"user-agent", b"accept", b"content-length", b"content-type", b"expect"}
RESERVED = {n.decode() for n in CURL_OWN} | {"transfer-encoding", "connection"}


class RawHandler(socketserver.StreamRequestHandler):
    """Records one request as bytes and answers 200 with an empty body."""

    def handle(self):
        request_line = self.rfile.readline().rstrip(b"\r\n")
        headers = []
        while (line := self.rfile.readline()) not in (b"\r\n", b"\n", b""):
            name, _, value = line.rstrip(b"\r\n").partition(b":")
            headers.append((name, value.lstrip(b" \t")))
        fields = {n.lower(): v for n, v in headers}
        if fields.get(b"expect", b"").lower() == b"100-continue":
            self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
        body = self.rfile.read(int(fields.get(b"content-length", b"0")))
        method, target, _version = request_line.split(b" ", 2)
        with self.server.lock:
            self.server.received.append((method, target, headers, body))
        self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


@pytest.fixture(scope="module")
def server():
    srv = ThreadingHTTPServer(("127.0.0.1", 0), RawHandler)
    srv.lock = threading.Lock()
    srv.received = []
    thread = threading.Thread(target=srv.serve_forever, daemon=True)
    thread.start()
    yield srv
    srv.shutdown()
    srv.server_close()
    thread.join()


@pytest.fixture(scope="module")
def curl_home(tmp_path_factory):
    return tmp_path_factory.mktemp("curl-home")


def deliver(server, home, cases):
    """Runs the command lines of all cases in one bash script; returns what arrived."""
    base = f"http://127.0.0.1:{server.server_address[1]}"
    requests = [Pemrik(base + target, headers, getattr(HTTPMETHOD, method), body)
                for method, target, headers, body in cases]
    script = "set -e\n" + "\n".join(r.get_request_command() for r in requests) + "\n"
    (home / "run.sh").write_bytes(script.encode())
    # No curlrc, no proxy: only the command line decides what curl sends.
    env = {"PATH": os.environ["PATH"], "HOME": str(home), "CURL_HOME": str(home),
           "XDG_CONFIG_HOME": str(home), "LC_ALL": "C"}
    with server.lock:
        server.received.clear()
    done = subprocess.run(["bash", str(home / "run.sh")], cwd=home, env=env,
                          capture_output=True, timeout=120)
    assert done.returncode == 0, (done.stderr.decode(errors="replace"), script)
    with server.lock:
        return list(server.received)


def check(received, cases):
    assert len(received) == len(cases)
    for (method, target, headers, body), (r_method, r_target, r_headers, r_body) in zip(cases, received):
        assert r_method == method.encode()
        assert r_target == target.encode()
        assert [(n, v) for n, v in r_headers if n.lower() not in CURL_OWN] == \
            [(n.encode(), v.encode()) for n, v in headers]
        # An absent body sends no length at all; a present one, even empty, does.
        assert (b"content-length" in {n.lower() for n, _ in r_headers}) == (body is not None)
        assert r_body == (body or "").encode()


CASES = [
    ("GET", "/", [], None),
    ("POST", "/items", [("Content-Kind", "json")], ""),
    ("PUT", "/a'b/\"c\"/$HOME/`id`/\\x", [("X-Q", "it's \"quoted\" $HOME `id` \\n \\")], "it's"),
    ("PATCH", "/p?q='1'&r=\"2\"&s=$(id)&t=%20%zz", [("X-Dup", "1"), ("X-Dup", "2"), ("x-dup", "3")], "'''"),
    ("DELETE", "/~user/!bang/*star/?a=é中&b=ü", [("X-U", "grüße 中文 \u2028 \x85 …")], "ü\n\r\n\t'\"\\$`"),
    ("OPTIONS", "/only-safe:chars@%+=,._-", [("X-Ctl", "a\x01\x1f\x7f\tb")], "@file"),
    ("HEAD", "/head", [("X-H", "v")], "@"),
    ("TRACE", "/trace;p?x=y?z", [("!#$%&'*+-.^_`|~", "token name")], "--data x -H y"),
    ("CONNECT", "/connect", [], "a\x01\x7f€"),
    ("POST", "/long", [("X-Long", "v" * 5000)], "b" * 70_000),
]


def test_fixed_cases(server, curl_home):
    check(deliver(server, curl_home, CASES), CASES)


TCHAR = "!#$%&'*+-.^_`|~0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
URL_ASCII = "".join(chr(c) for c in range(0x21, 0x7F) if chr(c) not in "#{}[]")
segment = st.text(st.sampled_from(URL_ASCII.replace("/", "").replace("?", "")), max_size=6) \
    .filter(lambda s: s not in (".", ".."))
query_char = st.one_of(st.sampled_from(URL_ASCII),
                       st.characters(min_codepoint=0xA0, blacklist_categories=("Cs",)))
target = st.builds(lambda segs, q: "/" + "/".join(segs) + ("" if q is None else "?" + q),
                   st.lists(segment, max_size=4), st.none() | st.text(query_char, min_size=1, max_size=12))
name = st.text(st.sampled_from(TCHAR), min_size=1, max_size=10).filter(lambda n: n.lower() not in RESERVED)
# curl trims C white space (blank, tab, vertical tab, form feed) around a value.
value = st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\x00\r\n"),
                min_size=1, max_size=20).filter(lambda v: v.strip(" \t\v\f") == v)
body = st.none() | st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\x00"),
                           max_size=40)
case = st.tuples(st.sampled_from(METHODS), target, st.lists(st.tuples(name, value), max_size=4), body)


@given(cases=st.lists(case, min_size=1, max_size=8))
def test_random_requests_arrive_intact(server, curl_home, cases):
    check(deliver(server, curl_home, cases), cases)
