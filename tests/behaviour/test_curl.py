"""get_request_command: shell-safe curl command lines, against the Python
renderer and against bash's own word splitting."""

import os
import subprocess

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD, Pemrik
from support.cases import METHODS
from support.oracles import curl_line, curl_words

BARE = "ABCXYZabcxyz0189@%+=:,./-_"


def render(url, headers, method, body):
    return Pemrik(url, headers, getattr(HTTPMETHOD, method), body).get_request_command()


CASES = [
    (
        ("/items", [("Content-Type", "application/json"), ("X-Trace", "7")], "POST", '{"id": 7}'),
        """curl -X POST /items -H "Content-Type: application/json" -H "X-Trace: 7" -d '{"id": 7}'""",
    ),
    (("", [("A", "1")], "GET", ""), """curl -X GET  -H "A: 1" -d ''"""),
    (("/a b", [("A", 'x"y')], "PUT", "it's"), """curl -X PUT '/a b' -H "A: x\\"y" -d 'it'\\''s'"""),
    (("http://h:8080/p?q=1&r=2", [], "GET", None), "curl -X GET 'http://h:8080/p?q=1&r=2'"),
    (
        ("/", [('\\"$`', "$(echo injected)!'\n é")], "GET", None),
        'curl -X GET / -H "\\\\\\"\\$\\`: \\$(echo injected)!\'\n é"',
    ),
    (("/", [], "POST", "@'"), "curl -X POST / --data-raw '@'\\'''"),
    (("/", [], "POST", " @x"), "curl -X POST / -d ' @x'"),
] + [((BARE, [], name, None), f"curl -X {name} {BARE}") for name in METHODS]


@pytest.mark.parametrize("record, expected", CASES)
def test_rendering(record, expected):
    assert render(*record) == curl_line(*record) == expected


def test_every_character_at_every_position():
    chars = [chr(c) for c in range(0x250)] + [
        "\u2028",
        "\ufeff",
        "\uffff",
        "\U0001f600",
        "\U0010ffff",
    ]
    texts = [t for c in chars for t in (c, f"a{c}b{c}")]
    texts += [
        "x" * i + c + "y" * (n - i - 1)
        for c in "'\"\\$`é\U0001f600 "
        for n in range(1, 24)
        for i in range(n)
    ]
    for text in texts:
        args = (text, [(text, text)], "PATCH", text)
        assert render(*args) == curl_line(*args), repr(text)


def records(chars):
    text = st.text(
        st.sampled_from("'\"\\$`@!#&;|<>(){}[]*?~= \t\n\r\x01\x7f-%:,./_é\U0001f600") | chars
    )
    body = st.none() | text | text.map("@".__add__)
    return st.tuples(
        text | st.text(st.sampled_from(BARE)),
        st.lists(st.tuples(text, text), max_size=4),
        st.sampled_from(METHODS),
        body,
    )


@given(records(st.characters(exclude_categories=["Cs"])))
def test_matches_the_python_renderer(record):
    assert render(*record) == curl_line(*record)


def bash_words(records):
    """Runs the command lines in one bash, with curl a function printing its arguments."""
    script = 'curl() { printf \'%s\\0\' "$#" "$@"; }\n' + "".join(
        render(*r) + "\n" for r in records
    )
    done = subprocess.run(
        ["bash", "--norc", "--noprofile"],
        input=script.encode(),
        capture_output=True,
        env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C.UTF-8"},
        timeout=60,
    )
    assert done.returncode == 0 and done.stderr == b"", done.stderr
    fields, calls = done.stdout.split(b"\0")[:-1], []
    while fields:
        count = int(fields.pop(0))
        calls.append([f.decode("utf-8", "surrogateescape") for f in fields[:count]])
        del fields[:count]
    return calls


@example([r for r, _ in CASES])
@given(
    st.lists(
        records(st.characters(exclude_categories=["Cs"], exclude_characters="\0")),
        min_size=1,
        max_size=8,
    )
)
def test_bash_reads_back_exactly_the_fields(batch):
    assert bash_words(batch) == [curl_words(*r) for r in batch]
