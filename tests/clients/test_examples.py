"""The examples as users run them: what they print and where they write, the recorder's hooks
letting every request of the program go on, a HAR's entries; the stubs under stubtest and mypy."""

import io
import json
import os
import re
import subprocess
import sys
from pathlib import Path

import httpx
import pytest
import requests

from support.postman import RecordingServer, schema_errors

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
HAR, BINARY = EXAMPLES / "session.har", b"\x89PNG\r\n\x1a\n\x00\xff"


def run(*args, **kw):
    return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, **kw)


@pytest.mark.parametrize("name, args, methods", [  # without a path, into a fresh temporary folder
    ("demo.py", [], "GET POST DELETE"), ("from_http_clients.py", [], "POST PUT"),
    ("record_session.py", ["out.json"], "GET POST PUT DELETE"), ("record_session.py", [], "GET POST PUT DELETE"),
    ("from_har.py", [HAR, "out.json"], "GET POST DELETE"), ("from_har.py", [HAR], "GET POST DELETE"),
])  # fmt: skip
def test_example(tmp_path, name, args, methods):
    cwd, temp = tmp_path / "cwd", tmp_path / "tmp"
    cwd.mkdir(), temp.mkdir()
    done = run(EXAMPLES / name, *args, cwd=cwd, env={**os.environ, "TMPDIR": str(temp)})
    assert done.returncode == 0, done.stderr
    assert os.listdir(cwd) == (["out.json"] if "out.json" in args else [])
    if written := re.findall(r"^written: (.+)$", done.stdout, re.M):
        path = cwd / written[0]
        assert path.parent == cwd if "out.json" in args else path.parent.parent == temp
        text = path.read_text("utf-8")
    else:
        text = done.stdout[done.stdout.index("\n{") :]
    assert schema_errors(text) == []
    assert [i["request"]["method"] for i in json.loads(text)["item"]] == methods.split()
    assert re.findall(r"^ *curl -X (\w+) ", done.stdout, re.M) == methods.split()


@pytest.mark.parametrize("client, method, given, sent, note", [  # what they cannot hold is noted
    (requests, "POST", {"data": "grüße".encode()}, "grüße".encode(), None),
    (httpx, "PUT", {"content": "it's here"}, b"it's here", None),
    (requests, "POST", {"data": BINARY}, BINARY, "binary"), (httpx, "POST", {"content": BINARY}, BINARY, "binary"),
    (requests, "POST", {"data": io.BytesIO(BINARY)}, BINARY, "streamed"),
    (httpx, "POST", {"files": {"f": ("a.png", BINARY)}}, BINARY, "streamed"),
    (requests, "PROPFIND", {}, b"", "method"), (httpx, "PROPFIND", {}, b"", "method"),
])  # fmt: skip
def test_recorder_hooks_let_the_request_go_on(monkeypatch, capsys, client, method, given, sent, note):  # fmt: skip
    monkeypatch.syspath_prepend(EXAMPLES)
    recorder = __import__("record_session").Recorder()
    if client is requests:
        (session := requests.Session()).hooks["response"].append(recorder.requests_hook)
    else:
        session = httpx.Client(event_hooks={"request": [recorder.httpx_hook]})
    with RecordingServer() as server, session:
        assert session.request(method, server.base + "/x", **given).status_code == 200
    assert sent in server.received[0][3]
    items = json.loads(recorder.collection.export_collection())["item"]
    if note:
        assert (items, recorder.skipped) == ([], 1) and note in capsys.readouterr().err
    else:
        assert [i["request"]["body"]["raw"].encode() for i in items] == [sent]


FORM = [{"name": "q", "value": "café & co"}, {"name": "tag", "value": "a=b"}, {"name": "e"}]
URLENCODED, MULTIPART = "application/x-www-form-urlencoded; charset=UTF-8", "multipart/form-data"
# Headers of the recorded transfer, which a replay must not copy, and one it keeps.
STALE = [(":authority", "shop.example"), (":path", "/old"), ("Host", "shop.example")]
STALE += [("accept-encoding", "gzip, br"), ("Connection", "keep-alive"), ("Content-Length", "99")]
ENTRIES = [  # method, its own headers, postData; the body exported (None: left out), and a note
    ("GET", [], None, "", ""),
    ("POST", [], {"mimeType": "application/json", "text": '{"id":7}'}, '{"id":7}', ""),
    ("POST", [], {"mimeType": URLENCODED, "params": FORM}, "q=caf%C3%A9+%26+co&tag=a%3Db&e=", ""),
    ("PUT", [], {"mimeType": URLENCODED, "params": FORM, "text": "q=1"}, "q=1", ""),
    ("POST", [], {"mimeType": MULTIPART, "params": FORM}, "", "multipart/form-data body cannot"),
    ("GET", [("@x", "1")], None, "", "entry 6: no command line"),  # curl reads -H @x from a file
    ("GET", [("X-Lf", "a\r\nb")], None, "", "entry 7: no command line"),
    ("PROPFIND", [], None, None, "entry 8: left out"),  # not one of the module's methods
]


def test_har_entries(tmp_path):
    entries = []
    for method, headers, post, *_ in ENTRIES:
        headers = [{"name": n, "value": v} for n, v in [*STALE, ("X-Kept", "1"), *headers]]
        request = {"method": method, "url": "http://127.0.0.1/x", "headers": headers}
        entries.append({"request": request | ({"postData": post} if post else {})})
    (tmp_path / "in.har").write_text(json.dumps({"log": {"version": "1.2", "entries": entries}}))
    done = run(EXAMPLES / "from_har.py", "in.har", "out.json", cwd=tmp_path)
    assert done.returncode == 0 and all(note in done.stderr for *_, note in ENTRIES), done.stderr
    lines = [method for method, *_, note in ENTRIES if "entry" not in note]
    assert re.findall(r"^curl -X (\w+)", done.stdout, re.M) == lines
    items = [i["request"] for i in json.loads((tmp_path / "out.json").read_text("utf-8"))["item"]]
    kept = [(b, ["X-Kept", *(n for n, _ in h)]) for _, h, _, b, _ in ENTRIES if b is not None]
    assert [(i["body"]["raw"], [h["key"] for h in i["header"]]) for i in items] == kept


MISUSE = """from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
r = Pemrik('/', [], HTTPMETHOD.GET)
reveal_type((HTTPMETHOD.GET, PemrikCollection().get_collection(), r.get_request_command()))
Pemrik(1, [], HTTPMETHOD.GET)
Pemrik('/', [('a', 1)], HTTPMETHOD.GET)
Pemrik('/', [], 'GET')
HTTPMETHOD.GET < HTTPMETHOD.POST
class Sub(PemrikCollection): ...
"""


def test_stubs_and_mypy_strict(tmp_path):
    # Outside the source tree and its paths, so that only installed files are seen.
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    done = run("-m", "mypy.stubtest", "pemrik", cwd=tmp_path, env=env)
    assert done.returncode == 0, done.stdout + done.stderr
    (tmp_path / "misuse.py").write_text(MISUSE)
    out = run("-m", "mypy", "--strict", EXAMPLES, "misuse.py", cwd=tmp_path, env=env).stdout
    types = "tuple[pemrik.HTTPMETHOD, list[pemrik.Pemrik] | None, str]"  # older mypy: builtins.
    assert f'Revealed type is "{types}"' in out.replace("builtins.", ""), out
    assert re.findall(r"^(\S+):(\d+): error", out, re.M) == [("misuse.py", n) for n in "45678"], out
