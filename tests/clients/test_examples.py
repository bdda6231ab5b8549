"""The examples as users run them: what they print and where they write, the recorder's hooks
letting every request of the program go on, a HAR's entries; the stubs under stubtest and mypy."""

import io
import json
import os
import re
import subprocess
import sys

import httpx
import pytest
import requests

from support.oracles import METHODS, curl_line, curl_refusal, export_text
from support.postman import ROOT, RecordingServer, schema_errors

EXAMPLES, BINARY = ROOT / "examples", b"\x89PNG\r\n\x1a\n\x00\xff"


def run(*args, **kw):
    return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, **kw)


@pytest.mark.parametrize("name, args, methods", [  # without a path, into a fresh temporary folder
    ("demo.py", [], "GET POST DELETE"), ("from_http_clients.py", [], "POST PUT"),
    ("record_session.py", ["out.json"], "GET POST PUT DELETE"), ("record_session.py", [], "GET POST PUT DELETE"),
    ("from_har.py", [EXAMPLES / "session.har", "out.json"], "GET POST DELETE"), ("from_har.py", [EXAMPLES / "session.har"], "GET POST DELETE"),
])  # fmt: skip
def test_example(tmp_path, name, args, methods):  # TMPDIR is tmp_path, the current folder cwd in it
    (cwd := tmp_path / "cwd").mkdir()
    done = run(EXAMPLES / name, *args, cwd=cwd, env={**os.environ, "TMPDIR": str(tmp_path)})
    written = [cwd / path for path in re.findall(r"^written: (.+)$", done.stdout, re.M)]
    assert done.returncode == 0 and os.listdir(cwd) == ["out.json"] * ("out.json" in args) and all(p.parent.parent == tmp_path for p in written), done.stderr  # fmt: skip
    text = written[0].read_text("utf-8") if written else done.stdout[done.stdout.index("\n{") :]
    assert schema_errors(text) == [] and methods.split() == [i["request"]["method"] for i in json.loads(text)["item"]]  # fmt: skip
    assert methods.split() == re.findall(r"^ *curl -X (\w+) ", done.stdout, re.M)


@pytest.mark.parametrize("client, method, given, note", [  # what the hooks cannot hold goes on, noted
    (requests, "POST", {"data": io.BytesIO(BINARY)}, "streamed"), (httpx, "POST", {"files": {"f": ("a.png", BINARY)}}, "streamed"),
    (requests, "PROPFIND", {"data": BINARY}, "method"), (httpx, "POST", {"content": BINARY}, "binary"),
])  # fmt: skip
def test_recorder_hooks_let_the_request_go_on(monkeypatch, capsys, client, method, given, note):
    monkeypatch.syspath_prepend(EXAMPLES)
    recorder = __import__("record_session").Recorder()
    (session := requests.Session()).hooks["response"].append(recorder.requests_hook)
    sender = session if client is requests else httpx.Client(event_hooks={"request": [recorder.httpx_hook]})  # fmt: skip
    with RecordingServer() as server, session, sender:
        assert sender.request(method, server.base + "/x", **given).status_code == 200
    assert (BINARY in server.received[0][3], recorder.collection.get_collection(), recorder.skipped, note in capsys.readouterr().err) == (True, None, 1, True)  # fmt: skip


FORM = [{"name": "q", "value": "café & co"}, {"name": "tag", "value": "a=b"}, {"name": "e"}]
STALE = [(n, "x") for n in (":authority", ":path", "Host", "accept-encoding", "Connection", "Content-Length")]  # fmt: skip
ENTRIES = [  # method, its headers after the transfer's (dropped) and X-Kept, postData; the body it gets; a note
    ("GET", [], None, None, ""), ("POST", [], {"mimeType": "application/json", "text": '{"id":7}'}, '{"id":7}', ""),
    ("POST", [], {"mimeType": "application/x-www-form-urlencoded; charset=UTF-8", "params": FORM}, "q=caf%C3%A9+%26+co&tag=a%3Db&e=", ""),
    ("PUT", [], {"mimeType": "application/x-www-form-urlencoded; charset=UTF-8", "params": FORM, "text": "q=1"}, "q=1", ""),
    ("POST", [], {"mimeType": "multipart/form-data", "params": FORM}, None, "multipart/form-data body cannot"),
    ("GET", [("@x", "1")], None, None, "entry 6: no command line"), ("GET", [("X-Lf", "a\r\nb")], None, None, "entry 7: no command line"),
    ("PROPFIND", [], None, None, "entry 8: left out"),  # not one of the module's methods
]  # fmt: skip


def test_har_entries(tmp_path):
    entries = [{"request": {"method": m, "url": "http://h/x", "postData": post, "headers": [{"name": n, "value": v} for n, v in [*STALE, ("X-Kept", "1"), *h]]}} for m, h, post, *_ in ENTRIES]  # fmt: skip
    (tmp_path / "in.har").write_text(json.dumps({"log": {"entries": entries}}))
    done = run(EXAMPLES / "from_har.py", "in.har", "out.json", cwd=tmp_path)
    assert done.returncode == 0 and all(note in done.stderr for *_, note in ENTRIES), done.stderr
    records = [("http://h/x", [("X-Kept", "1"), *h], m, body) for m, h, _, body, _ in ENTRIES if m in METHODS]  # fmt: skip
    assert done.stdout.splitlines() == [curl_line(*r) for r in records if not curl_refusal(*r[:2], r[3])] + ["written: out.json"]  # fmt: skip
    assert (tmp_path / "out.json").read_text("utf-8") == export_text(records)


MISUSE = """from pemrik import HTTPMETHOD as M, Pemrik as P, PemrikCollection as C
reveal_type((M.GET, C().get_collection(), P('/', [], M.GET).get_request_command()))
P(1, [], M.GET); P('/', [('a', 1)], M.GET); P('/', [], 'GET'); M.GET < M.POST
class Sub(C): ..."""


def test_stubs_and_mypy_strict(tmp_path):  # outside the source tree and its paths: installed files
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    stubtest = run("-m", "mypy.stubtest", "pemrik", cwd=tmp_path, env=env)
    (tmp_path / "misuse.py").write_text(MISUSE + "\n")
    out = run("-m", "mypy", "--strict", EXAMPLES, "misuse.py", cwd=tmp_path, env=env).stdout.replace("builtins.", "")  # older mypy: builtins.  # fmt: skip
    assert stubtest.returncode == 0 and 'Revealed type is "tuple[pemrik.HTTPMETHOD, list[pemrik.Pemrik] | None, str]"' in out, stubtest.stdout + out  # fmt: skip
    assert re.findall(r"^(\S+):(\d+): error", out, re.M) == [("misuse.py", n) for n in "33334"], out
