"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/:

    python fuzz/make_seeds.py

The seeds are the worked examples and the hard cases the test suite names,
encoded in each target's input format. Files found by fuzzing (crashes kept
as regressions) live beside them under other names and are left alone.
"""

import hashlib
import pathlib

HERE = pathlib.Path(__file__).resolve().parent
NAMES = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]

# (url, headers, method, body) in the core target's terms.
REQUESTS = [
    ("http://127.0.0.1:8080/api/items?id=7", [("Accept", "application/json")], "GET", None),
    ("https://127.0.0.1/api/items/", [], "POST", '{"id":7}'),
    ("/items", [("Content-Type", "application/json"), ("X-Trace", "7")], "POST", '{"id": 7}'),
    ("", [], "DELETE", None),
    ("", [("A", "1")], "GET", ""),
    ("/a b", [("A", 'x"y')], "PUT", "it's"),
    ("/", [("", ""), ("A", "1"), ("A", "2")], "GET", None),
    ("/", [('\\"$`', "$(echo injected)!'\n é")], "HEAD", ""),
    ("/", [], "POST", "@'"),
    ("/", [], "POST", " @x"),
    ("/", [], "POST", "'@"),
    ('~/$(id)`id`\\"é\n', [], "OPTIONS", None),
    ("/a\0b", [("n\0", "\0v")], "TRACE", "b\0"),
    (
        "s://h/" + "".join(chr(c) for c in range(0x20)) + "\x7f\u2028\U0001f600",
        [("\x1f", "\x7f")],
        "PATCH",
        "\b\f\t\r\n",
    ),
    ("git+ssh://u:pw@h:22/r.git", [], "CONNECT", None),
    ("a//b//c", [], "GET", None),
    ("h://a/b?u=http://c#f", [], "GET", None),
    ("\u212a://h/x", [], "GET", None),
    ("http\0://h/x", [], "GET", None),
    ("x/http://h/y", [("k", "v")], "PUT", "b"),
    ("it's /\u00e9\U0001f600", [], "GET", None),
]

URLS = [
    "https://127.0.0.1",
    "a//b//c",
    "a/b/c",
    "//",
    "x://",
    "file:///x/y",
    "HTTP://H/A",
    "git+ssh://u:pw@h:22/r.git",
    "a1.b-c+d://h/",
    "h://a/b?u=http://c#f",
    "1a://h/x",
    "+a://h/x",
    "://h/x",
    " http://h/x",
    "a_b://h/x",
    "\u212a://h/x",
    "a\u0663://h/x",
    "http\0://h/x",
    "http:/x/y",
    "x/http://h/y",
    "",
    "/",
    "http:/x",
    "it's /\u00e9\U0001f600",
    "a\0b/c",
    "also/bad",
    "s://h/" + "/".join("abc"[:n] for n in range(4)),
]


def core_input(requests):
    """The core target's format: see requests_from in fuzz/oracle.hpp."""
    chunks = []
    for url, headers, method, body in requests:
        texts = [url] + [t for pair in headers for t in pair] + ([body] if body is not None else [])
        control = NAMES.index(method) | (0x10 if body is not None else 0)
        chunks.append(bytes([control]) + b"\xfe".join(t.encode("utf-8") for t in texts))
    return b"\xff".join(chunks)


def write(target, inputs):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    for data in inputs:
        name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
        (folder / name).write_bytes(data)


def main():
    core = [core_input([r]) for r in REQUESTS]
    core.append(core_input(REQUESTS[:2]))  # the worked export example
    core.append(core_input(REQUESTS[2:6]))  # with uncuttable urls among them
    core.append(b"")
    core.append(
        b"\x10\xfe\xed\xa0\x80\xc0\xaf\xf4\x90\x80\x80"
    )  # invalid UTF-8, mapped to characters
    write("core_fuzz", core)
    write("url_fuzz", [u.encode("utf-8") for u in URLS] + [b"s://h/\xff\xfe/x"])

    write("module_fuzz", module_seeds())


def module_seeds():
    """The module target's seeds: calls the binding and conversion tests name."""
    from module_input import ELEMENTS, ITEMS, call, headers, k, pair, s, script

    get, post = k("method", b"\x00"), k("method", b"\x01")
    ok = [headers([pair(s("Accept"), s("application/json"))]), get]
    seeds = [
        # the worked export example, built by the constructor and by add_request
        script(
            call(0, s("http://127.0.0.1:8080/api/items?id=7"), *ok),
            call(0, s("https://127.0.0.1/api/items/"), headers([]), post, s('{"id":7}')),
            call(
                1,
                k(
                    "list",
                    ITEMS.join(
                        [bytes([4]) + k("earlier", b"\x00"), bytes([4]) + k("earlier", b"\x01")]
                    ),
                ),
            ),
            call(2, k("earlier", b"\x00")),
            call(1),
            call(2, k("earlier", b"\x01")),
        ),
        script(call(0x40, s("/u"), headers([]), get, k("None"))),  # by keyword
        script(call(0, k("int"), headers([]), get)),
        script(call(0, k("surrogates", b"ab\xed\xb2\x80"), headers([]), k("int"), k("int"))),
        script(call(0, s("/u"), headers([pair(s("n"), k("surrogates", b"\x80"))]), k("int"))),
        script(call(0, s("/u"), headers([pair(s("a"), s("b")), bytes([0]) + s("x")]), k("int"))),
        script(
            call(0, s("/u"), headers([bytes([0]) + ELEMENTS.join([s("a"), s("b"), s("c")])]), get)
        ),
        script(call(0, s("/u"), headers([pair(s("a"), s("b"), "list")]), get)),
        script(call(0, s("/u"), headers([pair(s("a"), k("int"))]), get)),
        script(
            call(
                0,
                s("/u"),
                headers([pair(k("StrSub", b"n"), k("StrSub", b"v"), "TupleSub")]),
                get,
                k("StrSub", b"b"),
            )
        ),
        script(
            call(
                0,
                s("/u"),
                headers([pair(s("a"), s("b"), "Pair")], "Seq"),
                get,
                k("surrogates", b"\x80"),
            )
        ),
        script(call(0, s("/u"), k("str"), get)),
        script(call(0, s("/u"), k("StrSub", b"ab"), get)),
        script(call(0, s("/u"), k("dict"), get)),
        script(call(0, s("/u"), k("generator"), get)),
        script(call(0, s("/u"), k("bytes", b"x"), get)),
        script(call(0, s("/u"), k("bytes"), get)),
        script(call(0, s("/u"), headers([]), k("method name"))),
        script(call(0, s("/u"), headers([]), get, k("int"))),
        script(call(0, s("/u"), headers([]), get, k("None"), k("None"))),
        script(call(0)),
        script(call(0, s("/u"))),
        script(call(0, s("/u"), headers([]))),
        script(call(1, k("str"))),
        script(call(1, k("None"), k("None"))),
        script(
            call(0, s("/r"), headers([]), get),
            call(1, k("list", bytes([4]) + k("earlier", b"\x00") + ITEMS + bytes([4]) + k("int"))),
        ),
        script(call(1, k("dict"))),
        script(call(2, s("x"))),
        script(call(2)),
        # export refused: a url with fewer than two "/"
        script(
            call(0, s("http:/x"), headers([pair(s("k"), s("v"))]), k("method", b"\x02"), s("b")),
            call(2, k("earlier", b"\x00")),
        ),
        script(
            call(0, s("a\0b/c"), headers([]), get),
            call(1, k("tuple", bytes([4]) + k("earlier", b"\x00"))),
        ),
        # texts every renderer must escape or quote
        script(
            call(
                0,
                s("s://h/\0\x1f\x7f\"\\'$`\u2028\U0001f600"),
                headers([pair(s("\n"), s("\t"))]),
                k("method", b"\x06"),
                s("@'"),
            ),
            call(2, k("earlier", b"\x00")),
        ),
        script(call(0, s(""), headers([pair(s("A"), s("1"))]), get, s(""))),
    ]
    return seeds


if __name__ == "__main__":
    import sys

    sys.path.insert(0, str(HERE))  # module_input, beside this file
    main()
