"""Command lines run by bash send byte for byte what curl sends given the oracle's curl_words."""

import os
import subprocess

from support.cases import lines, make
from support.oracles import curl_words
from support.postman import RecordingServer

CASES = [  # method, target, headers, body
    ("GET", "", [], None),
    ("HEAD", "long", [("X-Long", "v" * 5000)], "b" * 70_000),
    ("POST", "items", [("X-Dup", "1"), ("x-dup", ""), ("!#$%&'*+-.^_`|~", "token name")], ""),
    ("PUT", 'a\'b/"c"/$HOME/`id`/\\x?q=\'1\'&r="2"&s=$(echo)&t=%zz', [("X-Q", "`id` \\n \\")], "'"),
    ("PATCH", "p", [("X-I", "'it's' \"$(echo injected)\" $HOME ${x}")], "$(echo injected) $H '"),
    ("DELETE", "~u/!b/*s/?a=é中&b=ü", [("X-U", "grüße 中文 \u2028 \x85 …")], "ü\n\r\n\t'\"\\$`"),
    ("OPTIONS", "safe:chars@%+=,._-", [("X-Ctl", "a\x01\x1f\x7f\tb")], "@file"),
    ("CONNECT", "t;p?x=y?z", [], "--data x -H y \x01\x7f€"),
]


def test_lines_deliver_what_curl_words_says(tmp_path):
    env = {"PATH": os.environ["PATH"], "HOME": str(tmp_path), "LC_ALL": "C"}  # no curlrc, no proxy
    quiet = dict(cwd=tmp_path, env=env, check=True, capture_output=True)
    with RecordingServer() as server:
        sent = [(server.base + "/" + t, h, m, b) for m, t, h, b in CASES]
        subprocess.run(["bash", "-e"], input="\n".join(lines(make(sent))).encode(), **quiet)
        words = [w for i, r in enumerate(sent) for w in ["--next"] * (i > 0) + curl_words(*r)]
        subprocess.run(["curl", *words], **quiet)
    by_line = server.received[: len(sent)]  # what bash and curl sent, then what curl alone sent:
    assert server.received == by_line * 2
    assert [r[3] for r in by_line] == [(body or "").encode() for *_, body in sent]
