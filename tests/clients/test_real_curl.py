"""Command lines run by bash and curl against a recording server deliver byte for byte what
curl sends given the words of the curl_words oracle, and each body as it was given."""

import os
import shutil
import subprocess

from hypothesis import example, given
from hypothesis import strategies as st

from pemrik import HTTPMETHOD, Pemrik
from support.cases import METHODS
from support.oracles import curl_words
from support.postman import RecordingServer, unavailable

CASES = [
    ("GET", "", [], None),
    ("POST", "items", [("X-Dup", "1"), ("x-dup", ""), ("!#$%&'*+-.^_`|~", "token name")], ""),
    ("PUT", 'a\'b/"c"/$HOME/`id`/\\x?q=\'1\'&r="2"&s=$(echo)&t=%zz', [("X-Q", "`id` \\n \\")], "'"),
    ("PATCH", "p", [("X-I", "'it's' \"$(echo injected)\" $HOME ${x}")], "$(echo injected) $H '"),
    ("DELETE", "~u/!b/*s/?a=é中&b=ü", [("X-U", "grüße 中文 \u2028 \x85 …")], "ü\n\r\n\t'\"\\$`"),
    ("OPTIONS", "safe:chars@%+=,._-", [("X-Ctl", "a\x01\x1f\x7f\tb")], "@file"),
    ("CONNECT", "t;p?x=y?z", [], "--data x -H y \x01\x7f€"),
    ("HEAD", "long", [("X-Long", "v" * 5000)], "b" * 70_000),
]
text = st.text(st.characters(exclude_characters="\x00\r\n", exclude_categories=["Cs"]))
body = st.none() | st.text(st.characters(exclude_characters="\x00", exclude_categories=["Cs"]))
url = st.text(st.characters(min_codepoint=33, max_codepoint=126, exclude_characters="#[]{}"))
header = st.tuples(text.filter(lambda n: n[:1] != "@"), text)  # curl reads -H @name from a file


@example(cases=CASES)
@given(st.lists(st.tuples(st.sampled_from(METHODS), url, st.lists(header), body), min_size=1))
def test_lines_deliver_what_curl_words_says(tmp_path_factory, cases):
    if not shutil.which("curl"):
        unavailable("curl is missing")
    home = tmp_path_factory.getbasetemp()
    env = {"PATH": os.environ["PATH"], "HOME": str(home), "LC_ALL": "C"}  # no curlrc, no proxy
    with RecordingServer() as server:
        sent = [(server.base + "/" + t, h, m, b) for m, t, h, b in cases]
        lines = [
            Pemrik(u, h, getattr(HTTPMETHOD, m), b).get_request_command() for u, h, m, b in sent
        ]
        (home / "run.sh").write_bytes("\n".join(lines).encode())
        subprocess.run(["bash", "-e", "run.sh"], cwd=home, env=env, check=True, capture_output=True)
        by_line = server.received[:]
        words = [w for i, r in enumerate(sent) for w in ["--next"] * (i > 0) + curl_words(*r)]
        subprocess.run(["curl", *words], env=env, check=True, capture_output=True)
        assert server.received[len(by_line) :] == by_line
    assert [r[3] for r in by_line] == [(b or "").encode() for *_, b in sent]
