"""get_request_command: shell-safe curl command lines, checked against a
Python renderer and against bash's own word splitting."""

import os
import string
import subprocess

import pytest
from hypothesis import given, strategies as st

from pemrik import HTTPMETHOD, Pemrik

NAMES = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]
BARE = frozenset(string.ascii_letters + string.digits + "@%+=:,./-_")


def in_single_quotes(text):
    return text.replace("'", "'\\''")


def in_double_quotes(text):
    return "".join("\\" + c if c in '\\"$`' else c for c in text)


def oracle(url, headers, method, body):
    """The command line, written the slow and obvious way."""
    line = f"curl -X {method} "
    line += url if all(c in BARE for c in url) else f"'{in_single_quotes(url)}'"
    for name, value in headers:
        line += f' -H "{in_double_quotes(name)}: {in_double_quotes(value)}"'
    if body is not None:
        line += (" --data-raw '" if body.startswith("@") else " -d '") + in_single_quotes(body) + "'"
    return line


def render(url, headers, method, body):
    return Pemrik(url, headers, getattr(HTTPMETHOD, method), body).get_request_command()


CASES = [
    # the worked examples
    (("/items", [], "GET", None), "curl -X GET /items"),
    (("/items", [("Content-Type", "application/json"), ("X-Trace", "7")], "POST", '{"id": 7}'),
     """curl -X POST /items -H "Content-Type: application/json" -H "X-Trace: 7" -d '{"id": 7}'"""),
    (("", [], "DELETE", None), "curl -X DELETE "),
    (("/a b", [("A", 'x"y')], "PUT", "it's"), """curl -X PUT '/a b' -H "A: x\\"y" -d 'it'\\''s'"""),
    (("/", [], "HEAD", ""), "curl -X HEAD / -d ''"),
    # url: bare or single-quoted
    (("", [("A", "1")], "GET", None), 'curl -X GET  -H "A: 1"'),
    (("", [], "GET", ""), "curl -X GET  -d ''"),
    ((string.ascii_letters + string.digits + "@%+=:,./-_", [], "GET", None),
     "curl -X GET " + string.ascii_letters + string.digits + "@%+=:,./-_"),
    (("http://h:8080/p?q=1&r=2", [], "GET", None), "curl -X GET 'http://h:8080/p?q=1&r=2'"),
    (("it's", [], "GET", None), "curl -X GET 'it'\\''s'"),
    (("'", [], "GET", None), "curl -X GET ''\\'''"),
    (("''", [], "GET", None), "curl -X GET ''\\'''\\'''"),
    (("~/x", [], "GET", None), "curl -X GET '~/x'"),
    (("/$(id)`id`", [], "GET", None), "curl -X GET '/$(id)`id`'"),
    (("/a\\b\"c", [], "GET", None), "curl -X GET '/a\\b\"c'"),
    (("/é", [], "GET", None), "curl -X GET '/é'"),
    (("/\U0001f600", [], "GET", None), "curl -X GET '/\U0001f600'"),
    (("/a\nb\tc", [], "GET", None), "curl -X GET '/a\nb\tc'"),
    (("-", [], "GET", None), "curl -X GET -"),
    # headers: \ " $ ` get a backslash, nothing else changes
    (("/", [("", "")], "GET", None), 'curl -X GET / -H ": "'),
    (("/", [('\\"$`', '`$"\\')], "GET", None), 'curl -X GET / -H "\\\\\\"\\$\\`: \\`\\$\\"\\\\"'),
    (("/", [("X", "$(rm -rf ~)")], "GET", None), 'curl -X GET / -H "X: \\$(rm -rf ~)"'),
    (("/", [("X", "!'\n é\U0001f600")], "GET", None), "curl -X GET / -H \"X: !'\n é\U0001f600\""),
    (("/", [("A", "1"), ("A", "2")], "GET", None), 'curl -X GET / -H "A: 1" -H "A: 2"'),
    # body: single quotes closed and reopened; a leading @ is not a file name
    (("/", [], "POST", "'"), "curl -X POST / -d ''\\'''"),
    (("/", [], "POST", '"$x`\\\n'), "curl -X POST / -d '\"$x`\\\n'"),
    (("/", [], "POST", "@"), "curl -X POST / --data-raw '@'"),
    (("/", [], "POST", "@/etc/passwd"), "curl -X POST / --data-raw '@/etc/passwd'"),
    (("/", [], "POST", "@'"), "curl -X POST / --data-raw '@'\\'''"),
    (("/", [], "POST", " @x"), "curl -X POST / -d ' @x'"),
    (("/", [], "POST", "'@"), "curl -X POST / -d ''\\''@'"),
    (("/", [], "POST", "x@y"), "curl -X POST / -d 'x@y'"),
] + [(("/", [], name, None), f"curl -X {name} /") for name in NAMES]


@pytest.mark.parametrize("record, expected", CASES)
def test_rendering(record, expected):
    assert render(*record) == expected
    assert oracle(*record) == expected


SAMPLE_CHARS = [chr(c) for c in range(0x250)] + ["\u2028", "\ufeff", "\uffff", "\U0001f600", "\U0010ffff"]


@pytest.mark.parametrize("field", ["url", "name", "value", "body"])
def test_every_character_in_every_field(field):
    for c in SAMPLE_CHARS:
        for text in (c, f"a{c}b{c}"):
            record = {"url": "/u", "name": "n", "value": "v", "body": "b", field: text}
            args = (record["url"], [(record["name"], record["value"])], "GET", record["body"])
            assert render(*args) == oracle(*args), repr(text)


@pytest.mark.parametrize("special", ["'", '"', "\\", "$", "`", "é", "\U0001f600", " "])
def test_escapes_at_every_position(special):
    for n in range(1, 24):
        for i in range(n):
            text = "x" * i + special + "y" * (n - i - 1)
            args = (text, [(text, text)], "PATCH", text)
            assert render(*args) == oracle(*args), repr(text)


SPECIAL = "'\"\\$`@!#&;|<>(){}[]*?~= \t\n\r\x01\x7f-%:,./_é\U0001f600"
any_char = st.characters(exclude_categories=["Cs"])


def texts(chars):
    return st.text(st.one_of(st.sampled_from(SPECIAL), chars))


def records(chars):
    text = texts(chars)
    url = st.one_of(text, st.text(st.sampled_from(sorted(BARE))))
    body = st.one_of(st.none(), text, text.map(lambda s: "@" + s))
    return st.tuples(url, st.lists(st.tuples(text, text), max_size=4), st.sampled_from(NAMES), body)


@given(records(any_char))
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


def bash_words(commands):
    """Runs the command lines in one bash, with curl a function printing its arguments."""
    script = "curl() { printf '%s\\0' \"$#\" \"$@\"; }\n" + "".join(c + "\n" for c in commands)
    done = subprocess.run(
        ["bash", "--norc", "--noprofile"], input=script.encode(), capture_output=True,
        env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"}, timeout=60,
    )
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
    assert bash_words([render(*r) for r in batch]) == [words(*r) for r in batch]


def test_bash_reads_back_the_cases():
    records = [record for record, _ in CASES]
    assert bash_words([render(*r) for r in records]) == [words(*r) for r in records]
