"""get_request_command: shell-safe curl command lines, checked against a Python renderer
and against bash's own word splitting."""

import os
import string
import subprocess

import pytest
from hypothesis import given, strategies as st

from pemrik import HTTPMETHOD, Pemrik

NAMES = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]
BARE = string.ascii_letters + string.digits + "@%+=:,./-_"


def oracle(url, headers, method, body):
    """The command line, written the slow and obvious way."""
    single = lambda s: s.replace("'", "'\\''")  # noqa: E731
    double = lambda s: "".join("\\" + c if c in '\\"$`' else c for c in s)  # noqa: E731
    line = f"curl -X {method} " + (url if all(c in BARE for c in url) else f"'{single(url)}'")
    for name, value in headers:
        line += f' -H "{double(name)}: {double(value)}"'
    if body is not None:
        line += (" --data-raw '" if body.startswith("@") else " -d '") + single(body) + "'"
    return line


def render(url, headers, method, body):
    return Pemrik(url, headers, getattr(HTTPMETHOD, method), body).get_request_command()


CASES = [
    (("/items", [], "GET", None), "curl -X GET /items"),
    (("/items", [("Content-Type", "application/json"), ("X-Trace", "7")], "POST", '{"id": 7}'),
     """curl -X POST /items -H "Content-Type: application/json" -H "X-Trace: 7" -d '{"id": 7}'"""),
    (("", [], "DELETE", None), "curl -X DELETE "),
    (("", [("A", "1")], "GET", ""), """curl -X GET  -H "A: 1" -d ''"""),
    (("/a b", [("A", 'x"y')], "PUT", "it's"), """curl -X PUT '/a b' -H "A: x\\"y" -d 'it'\\''s'"""),
    ((BARE, [], "GET", None), "curl -X GET " + BARE),
    (("http://h:8080/p?q=1&r=2", [], "GET", None), "curl -X GET 'http://h:8080/p?q=1&r=2'"),
    (("~/$(id)`id`\\\"é\n", [], "GET", None), "curl -X GET '~/$(id)`id`\\\"é\n'"),
    (("/", [("", ""), ("A", "1"), ("A", "2")], "GET", None), 'curl -X GET / -H ": " -H "A: 1" -H "A: 2"'),
    (("/", [('\\"$`', "$(echo injected)!'\n é")], "GET", None),
     'curl -X GET / -H "\\\\\\"\\$\\`: \\$(echo injected)!\'\n é"'),
    (("/", [], "POST", '"$x`\\\n'), "curl -X POST / -d '\"$x`\\\n'"),
    (("/", [], "POST", "@'"), "curl -X POST / --data-raw '@'\\'''"),
    (("/", [], "POST", " @x"), "curl -X POST / -d ' @x'"),
    (("/", [], "POST", "'@"), "curl -X POST / -d ''\\''@'"),
] + [(("/", [], name, None), f"curl -X {name} /") for name in NAMES]


@pytest.mark.parametrize("record, expected", CASES)
def test_rendering(record, expected):
    assert render(*record) == oracle(*record) == expected


def test_every_character_and_every_position():
    chars = [chr(c) for c in range(0x250)] + ["\u2028", "\ufeff", "\uffff", "\U0001f600", "\U0010ffff"]
    texts = [t for c in chars for t in (c, f"a{c}b{c}")]
    # one special character at every position of texts of 1 to 23 characters
    texts += ["x" * i + c + "y" * (n - i - 1) for c in "'\"\\$`é\U0001f600 " for n in range(1, 24) for i in range(n)]
    for text in texts:
        args = (text, [(text, text)], "PATCH", text)
        assert render(*args) == oracle(*args), repr(text)


SPECIAL = "'\"\\$`@!#&;|<>(){}[]*?~= \t\n\r\x01\x7f-%:,./_é\U0001f600"


def records(chars):
    text = st.text(st.one_of(st.sampled_from(SPECIAL), chars))
    url = st.one_of(text, st.text(st.sampled_from(BARE)))
    body = st.one_of(st.none(), text, text.map(lambda s: "@" + s))
    return st.tuples(url, st.lists(st.tuples(text, text), max_size=4), st.sampled_from(NAMES), body)


@given(records(st.characters(exclude_categories=["Cs"])))
def test_matches_the_python_renderer(record):
    assert render(*record) == oracle(*record)


def words(url, headers, method, body):
    """The arguments curl must receive."""
    out = ["-X", method] + ([url] if url else [])
    for name, value in headers:
        out += ["-H", f"{name}: {value}"]
    if body is not None:
        out += ["--data-raw" if body.startswith("@") else "-d", body]
    return out


def bash_words(records):
    """Runs the command lines in one bash, with curl a function printing its arguments."""
    script = "curl() { printf '%s\\0' \"$#\" \"$@\"; }\n" + "".join(render(*r) + "\n" for r in records)
    done = subprocess.run(["bash", "--norc", "--noprofile"], input=script.encode(), capture_output=True,
                          env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"}, timeout=60)
    assert done.returncode == 0 and done.stderr == b"", done.stderr
    fields = done.stdout.split(b"\0")
    assert fields.pop() == b""
    calls = []
    while fields:
        count = int(fields.pop(0))
        calls.append([f.decode("utf-8", "surrogateescape") for f in fields[:count]])
        del fields[:count]
    return calls


@given(st.lists(records(st.characters(exclude_categories=["Cs"], exclude_characters="\0")), min_size=1, max_size=8))
def test_bash_reads_back_exactly_the_fields(batch):
    assert bash_words(batch) == [words(*r) for r in batch]


def test_bash_reads_back_the_cases():
    assert bash_words([r for r, _ in CASES]) == [words(*r) for r, _ in CASES]
