"""Command lines run by the real bash and curl against a local server that
records the raw method, target, headers (in order) and body. Inputs stay within
what curl passes on unchanged: in a url no spaces, control characters, fragment,
{} or [] (globs) or dot segments, and non-ASCII only in the query; no empty
header value, and no white space around one."""

import os
import shutil
import subprocess

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD, Pemrik
from support.cases import METHODS
from support.servers import RecordingServer

pytestmark = pytest.mark.skipif(
    not (shutil.which("curl") and shutil.which("bash")), reason="needs curl and bash"
)

CURL_OWN = {b"host", b"user-agent", b"accept", b"content-length", b"content-type", b"expect"}


@pytest.fixture(scope="module")
def deliver(tmp_path_factory):
    """Runs the command lines of the cases in one bash script and checks what arrived."""
    with RecordingServer() as server:
        home = tmp_path_factory.mktemp("curl-home")
        # No curlrc, no proxy: only the command line decides what curl sends.
        env = {
            "PATH": os.environ["PATH"],
            "HOME": str(home),
            "CURL_HOME": str(home),
            "XDG_CONFIG_HOME": str(home),
            "LC_ALL": "C",
        }
        base = server.base

        def run(cases):
            server.take()
            script = "set -e\n" + "".join(
                Pemrik(
                    base + target, headers, getattr(HTTPMETHOD, method), body
                ).get_request_command()
                + "\n"
                for method, target, headers, body in cases
            )
            (home / "run.sh").write_bytes(script.encode())
            done = subprocess.run(
                ["bash", str(home / "run.sh")], cwd=home, env=env, capture_output=True, timeout=120
            )
            assert done.returncode == 0, (done.stderr.decode(errors="replace"), script)
            got = [
                (
                    r.method,
                    r.target,
                    [(n, v.lstrip(b" \t")) for n, v in r.headers if n.lower() not in CURL_OWN],
                    r.body,
                    any(n.lower() == b"content-length" for n, _ in r.headers),
                )
                for r in server.take()
            ]
            assert got == [
                (
                    method.encode(),
                    target.encode(),
                    [(n.encode(), v.encode()) for n, v in headers],
                    (body or "").encode(),
                    body is not None,
                )
                for method, target, headers, body in cases
            ]

        yield run


CASES = [
    ("GET", "/", [], None),
    ("POST", "/items", [("Content-Kind", "json")], ""),
    ("PUT", '/a\'b/"c"/$HOME/`id`/\\x', [("X-Q", 'it\'s "quoted" $HOME `id` \\n \\')], "it's"),
    (
        "PATCH",
        "/p?q='1'&r=\"2\"&s=$(id)&t=%20%zz",
        [("X-Dup", "1"), ("X-Dup", "2"), ("x-dup", "3")],
        "'''",
    ),
    (
        "DELETE",
        "/~user/!bang/*star/?a=é中&b=ü",
        [("X-U", "grüße 中文 \u2028 \x85 …")],
        "ü\n\r\n\t'\"\\$`",
    ),
    ("OPTIONS", "/only-safe:chars@%+=,._-", [("X-Ctl", "a\x01\x1f\x7f\tb")], "@file"),
    ("TRACE", "/trace;p?x=y?z", [("!#$%&'*+-.^_`|~", "token name")], "--data x -H y"),
    ("CONNECT", "/connect", [], "a\x01\x7f€"),
    ("HEAD", "/long", [("X-Long", "v" * 5000)], "b" * 70_000),
]


TCHAR = "!#$%&'*+-.^_`|~0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
URL_ASCII = "".join(chr(c) for c in range(0x21, 0x7F) if chr(c) not in "#{}[]")
segment = st.text(st.sampled_from(URL_ASCII.replace("/", "").replace("?", "")), max_size=6).filter(
    lambda s: s not in (".", "..")
)
query = st.text(
    st.sampled_from(URL_ASCII) | st.characters(min_codepoint=0xA0, exclude_categories=["Cs"]),
    min_size=1,
    max_size=12,
)
target = st.builds(
    lambda segs, q: "/" + "/".join(segs) + ("" if q is None else "?" + q),
    st.lists(segment, max_size=4),
    st.none() | query,
)
reserved = {n.decode() for n in CURL_OWN} | {"transfer-encoding", "connection"}
name = st.text(st.sampled_from(TCHAR), min_size=1, max_size=10).filter(
    lambda n: n.lower() not in reserved
)
# curl trims blank, tab, vertical tab and form feed around a value
value = st.text(
    st.characters(exclude_categories=["Cs"], exclude_characters="\x00\r\n"), min_size=1, max_size=20
).filter(lambda v: v.strip(" \t\v\f") == v)
body = st.none() | st.text(
    st.characters(exclude_categories=["Cs"], exclude_characters="\x00"), max_size=40
)


@example(cases=CASES)
@given(
    st.lists(
        st.tuples(
            st.sampled_from(METHODS), target, st.lists(st.tuples(name, value), max_size=4), body
        ),
        min_size=1,
        max_size=8,
    )
)
def test_random_requests_arrive_intact(deliver, cases):
    deliver(cases)
