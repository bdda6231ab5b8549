"""The examples as users run them, the recorder's hooks, a HAR's entries; the stubs under mypy."""

import io
import json
import os
import re
import subprocess
import sys

import httpx
import pytest
import requests

from support.cases import outcome
from support.oracles import METHODS, curl_line, export_text
from support.postman import ROOT, RecordingServer, schema_errors

EXAMPLES, BINARY = ROOT / "examples", b"\x89PNG\r\n\x1a\n\x00\xff"
RUNS = [  # with an output path, and again without: into a fresh temporary folder
    ("demo.py", [], "GET POST DELETE"),
    ("from_http_clients.py", [], "POST PUT"),
    ("record_session.py", ["out.json"], "GET POST PUT DELETE"),
    ("from_har.py", [EXAMPLES / "session.har", "out.json"], "GET POST DELETE"),
]
RUNS += [(name, args[:-1], methods) for name, args, methods in RUNS if "out.json" in args]


def run(*args, **kw):
    return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, **kw)


@pytest.mark.parametrize("name, args, methods", RUNS)
def test_example(tmp_path, name, args, methods):  # TMPDIR is tmp_path, the current folder cwd in it
    (cwd := tmp_path / "cwd").mkdir()
    done = run(EXAMPLES / name, *args, cwd=cwd, env={**os.environ, "TMPDIR": str(tmp_path)})
    assert done.returncode == 0, done.stderr
    written = [cwd / path for path in re.findall(r"^written: (.+)$", done.stdout, re.M)]
    assert os.listdir(cwd) == ["out.json"] * ("out.json" in args)
    assert all(path.parent.parent == tmp_path for path in written)
    text = written[0].read_text("utf-8") if written else done.stdout[done.stdout.index("\n{") :]
    exported = [item["request"]["method"] for item in json.loads(text)["item"]]
    printed = re.findall(r"^ *curl -X (\w+) ", done.stdout, re.M)
    assert schema_errors(text) == [] and exported == printed == methods.split()


HOOKED = [  # what the hooks cannot hold goes on, noted
    (requests, "POST", {"data": io.BytesIO(BINARY)}, "streamed"),
    (httpx, "POST", {"files": {"f": ("a.png", BINARY)}}, "streamed"),
    (requests, "PROPFIND", {"data": BINARY}, "method"),
    (httpx, "POST", {"content": BINARY}, "binary"),
]


@pytest.mark.parametrize("client, method, given, note", HOOKED)
def test_recorder_hooks_let_the_request_go_on(monkeypatch, capsys, client, method, given, note):
    monkeypatch.syspath_prepend(EXAMPLES)
    recorder = __import__("record_session").Recorder()
    (session := requests.Session()).hooks["response"].append(recorder.requests_hook)
    hooks = {"request": [recorder.httpx_hook]}
    sender = session if client is requests else httpx.Client(event_hooks=hooks)
    with RecordingServer() as server, session, sender:
        assert sender.request(method, server.base + "/x", **given).status_code == 200
    assert BINARY in server.received[0][3] and note in capsys.readouterr().err
    assert (recorder.collection.get_collection(), recorder.skipped) == (None, 1)


FORM = [{"name": "q", "value": "café & co"}, {"name": "tag", "value": "a=b"}, {"name": "e"}]
URLENCODED = "application/x-www-form-urlencoded; charset=UTF-8"
STALE = [":authority", ":path", "Host", "accept-encoding", "Connection", "Content-Length"]
ENTRIES = [  # method, headers after the transfer's (dropped) and X-Kept, postData; its body; a note
    ("GET", [], None, None, ""),
    ("POST", [], {"mimeType": "application/json", "text": '{"id":7}'}, '{"id":7}', ""),
    ("POST", [], {"mimeType": URLENCODED, "params": FORM}, "q=caf%C3%A9+%26+co&tag=a%3Db&e=", ""),
    ("PUT", [], {"mimeType": URLENCODED, "params": FORM, "text": "q=1"}, "q=1", ""),
    ("POST", [], {"mimeType": "multipart/form-data", "params": FORM}, None, "multipart/form-data body cannot"),
    ("GET", [("@x", "1")], None, None, "entry 6: no command line"),
    ("GET", [("X-Lf", "a\r\nb")], None, None, "entry 7: no command line"),
    ("PROPFIND", [], None, None, "entry 8: left out"),  # not one of the module's methods
]  # fmt: skip


def test_har_entries(tmp_path):
    entries, records = [], []  # what the HAR holds; what the module is given of it
    for method, headers, post, body, _ in ENTRIES:
        pairs = [*[(name, "x") for name in STALE], ("X-Kept", "1"), *headers]
        named = [{"name": name, "value": value} for name, value in pairs]
        request = {"method": method, "url": "http://h/x", "headers": named, "postData": post}
        entries.append({"request": request})
        records += [("http://h/x", pairs[len(STALE) :], method, body)] * (method in METHODS)
    (tmp_path / "in.har").write_text(json.dumps({"log": {"entries": entries}}))
    done = run(EXAMPLES / "from_har.py", "in.har", "out.json", cwd=tmp_path)
    assert done.returncode == 0 and all(note in done.stderr for *_, note in ENTRIES), done.stderr
    printed = [line for r in records if isinstance(line := outcome(curl_line, *r), str)]
    assert done.stdout.splitlines() == printed + ["written: out.json"]
    assert (tmp_path / "out.json").read_text("utf-8") == export_text(records)


MISUSE = """from pemrik import HTTPMETHOD as M, Pemrik as P, PemrikCollection as C
reveal_type((M.GET, C().get_collection(), P('/', [], M.GET).get_request_command()))
P(1, [], M.GET); P('/', [('a', 1)], M.GET); P('/', [], 'GET'); M.GET < M.POST
class Sub(C): ...
"""
REVEALED = 'Revealed type is "tuple[pemrik.HTTPMETHOD, list[pemrik.Pemrik] | None, str]"'


def test_stubs_and_mypy_strict(tmp_path):  # outside the source tree and its paths: installed files
    env = {k: v for k, v in os.environ.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    stubtest = run("-m", "mypy.stubtest", "pemrik", cwd=tmp_path, env=env)
    assert stubtest.returncode == 0, stubtest.stdout
    (tmp_path / "misuse.py").write_text(MISUSE)
    mypy = run("-m", "mypy", "--strict", EXAMPLES, "misuse.py", cwd=tmp_path, env=env)
    out = mypy.stdout.replace("builtins.", "")  # older mypy writes builtins.list
    assert REVEALED in out, out
    assert re.findall(r"^(\S+):(\d+): error", out, re.M) == [("misuse.py", n) for n in "33334"], out
