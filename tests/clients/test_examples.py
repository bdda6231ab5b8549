"""The examples run as users run them, printing curl lines and exporting collections
that follow the schema; the recorder's hooks let every request of the program go on;
the stubs pass stubtest, and mypy --strict with them."""

import importlib.util
import io
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import httpx
import pytest
import requests

from support.postman import RecordingServer, schema_errors, unavailable

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
MISUSE = """from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
r = Pemrik('/', [], HTTPMETHOD.GET)
reveal_type((HTTPMETHOD.GET, PemrikCollection().get_collection(), r.get_request_command()))
Pemrik(1, [], HTTPMETHOD.GET)
Pemrik('/', [('a', 1)], HTTPMETHOD.GET)
Pemrik('/', [], 'GET')
HTTPMETHOD.GET < HTTPMETHOD.POST
class Sub(PemrikCollection): ...
"""


def run(*args, **kw):
    return subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, **kw)


@pytest.mark.parametrize(
    "name, args, methods",
    [
        ("demo.py", [], "GET POST DELETE"),
        ("from_http_clients.py", [], "POST PUT"),
        ("record_session.py", ["out.json"], "GET POST PUT DELETE"),
        ("record_session.py", [], "GET POST PUT DELETE"),
        ("from_har.py", [EXAMPLES / "session.har", "out.json"], "GET POST DELETE"),
        ("from_har.py", [EXAMPLES / "session.har"], "GET POST DELETE"),
    ],
)
def test_example(tmp_path, name, args, methods):
    cwd, temp = tmp_path / "cwd", tmp_path / "tmp"
    cwd.mkdir(), temp.mkdir()
    done = run(EXAMPLES / name, *args, cwd=cwd, env={**os.environ, "TMPDIR": str(temp)})
    assert done.returncode == 0, done.stderr
    out = done.stdout
    # A file goes where the user says, else into a fresh temporary folder.
    given = ["out.json"] if "out.json" in args else []
    assert os.listdir(cwd) == given
    if written := re.findall(r"^written: (.+)$", out, re.M):
        path = cwd / written[0]
        assert (path.parent == cwd) if given else (path.parent.parent == temp)
        text = path.read_text("utf-8")
    else:
        text = out[out.index("\n{") :]
    assert schema_errors(text) == []
    assert [i["request"]["method"] for i in json.loads(text)["item"]] == methods.split()
    assert re.findall(r"^ *curl -X (\w+) ", out, re.M) == methods.split()


def load(name):
    spec = importlib.util.spec_from_file_location(Path(name).stem, EXAMPLES / name)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


BINARY = b"\x89PNG\r\n\x1a\n\x00\xff"


@pytest.mark.parametrize(
    "client, method, given, sent, note",
    [
        ("requests", "POST", {"data": "grüße".encode()}, "grüße".encode(), None),
        ("httpx", "PUT", {"content": "it's here"}, b"it's here", None),
        ("requests", "POST", {"data": BINARY}, BINARY, "binary"),
        ("httpx", "POST", {"content": BINARY}, BINARY, "binary"),
        ("requests", "POST", {"data": io.BytesIO(BINARY)}, BINARY, "streamed"),
        ("httpx", "POST", {"files": {"f": ("a.png", BINARY)}}, BINARY, "streamed"),
        ("requests", "PROPFIND", {}, b"", "method"),
        ("httpx", "PROPFIND", {}, b"", "method"),
    ],
)
def test_recorder_hooks_let_the_request_go_on(capsys, client, method, given, sent, note):
    recorder = load("record_session.py").Recorder()
    with RecordingServer() as server:
        if client == "requests":
            with requests.Session() as session:
                session.hooks["response"].append(recorder.requests_hook)
                status = session.request(method, server.base + "/x", **given).status_code
        else:
            with httpx.Client(event_hooks={"request": [recorder.httpx_hook]}) as session:
                status = session.request(method, server.base + "/x", **given).status_code
    assert status == 200 and sent in server.received[0][3]
    items = json.loads(recorder.collection.export_collection())["item"]
    if note:
        assert (items, recorder.skipped) == ([], 1) and note in capsys.readouterr().err
    else:
        assert [i["request"]["body"]["raw"].encode() for i in items] == [sent]


def har_request(method, url, headers=(), post=None):
    headers = [{"name": n, "value": v} for n, v in headers]
    return {"method": method, "url": url, "headers": headers} | ({"postData": post} if post else {})


def run_har(folder, *requests):
    """Runs from_har.py on a HAR file of these requests, writing out.json."""
    har = {"log": {"version": "1.2", "entries": [{"request": r} for r in requests]}}
    (folder / "in.har").write_text(json.dumps(har))
    return run(EXAMPLES / "from_har.py", "in.har", "out.json", cwd=folder)


# Headers of the recorded transfer, which a replay must not copy, and one it keeps.
STALE = [(":authority", "shop.example"), (":path", "/old"), ("Host", "shop.example")]
STALE += [("accept-encoding", "gzip, br"), ("Connection", "keep-alive"), ("Content-Length", "99")]
FORM = [{"name": "q", "value": "café & co"}, {"name": "tag", "value": "a=b"}, {"name": "e"}]
URLENCODED = "application/x-www-form-urlencoded; charset=UTF-8"


@pytest.mark.parametrize(
    "method, post, body, note",
    [
        ("GET", None, b"", ""),
        ("POST", {"mimeType": "application/json", "text": '{"id":7}'}, b'{"id":7}', ""),
        ("POST", {"mimeType": URLENCODED, "params": FORM}, b"q=caf%C3%A9+%26+co&tag=a%3Db&e=", ""),
        ("PUT", {"mimeType": URLENCODED, "params": FORM, "text": "q=1"}, b"q=1", ""),
        ("POST", {"mimeType": "multipart/form-data; boundary=b", "params": FORM}, b"", "left out"),
    ],
)
def test_har_entries_replay_with_curl(tmp_path, method, post, body, note):
    if not shutil.which("curl"):
        unavailable("curl is missing")
    (tmp_path / ".curlrc").write_text("max-time = 10\n")  # a request that hangs fails
    env = {"PATH": os.environ["PATH"], "HOME": str(tmp_path), "LC_ALL": "C"}
    with RecordingServer() as server:
        request = har_request(method, server.base + "/x", [*STALE, ("X-Kept", "1")], post)
        done = run_har(tmp_path, request)
        assert done.returncode == 0 and note in done.stderr, done.stderr
        script = "\n".join(line for line in done.stdout.splitlines() if line.startswith("curl "))
        subprocess.run(["bash", "-e"], input=script, env=env, text=True, check=True, timeout=60)
    [(_, _, sent, received)] = server.received
    sent = {name.decode().lower(): value.decode().strip() for name, value in sent}
    assert received == body
    assert sent["host"] == server.base.split("/")[2] and sent["x-kept"] == "1"
    assert sent.get("content-length", "0") == str(len(body))
    assert not {"accept-encoding", "connection", ":authority", ":path"} & sent.keys()
    [item] = json.loads((tmp_path / "out.json").read_text("utf-8"))["item"]
    assert [h["key"] for h in item["request"]["header"]] == ["X-Kept"]


@pytest.mark.parametrize(
    "method, headers",
    [
        # get_request_command() refuses these (curl reads -H @name from a file).
        ("GET", [("@x", "1")]),
        ("GET", [("X-Lf", "a\r\nb")]),
        ("GET", [("X-Nul", "a\x00b")]),
        ("PROPFIND", []),  # not one of the nine
    ],
)
def test_har_entries_without_a_command_line_are_noted(tmp_path, method, headers):
    # Each gets a command line or a note on stderr, and the rest go on.
    url = "http://127.0.0.1/"
    done = run_har(tmp_path, har_request(method, url, headers), har_request("DELETE", url))
    assert done.returncode == 0, done.stderr
    lines = re.findall(r"^curl -X (\w+)", done.stdout, re.M)
    assert lines[-1:] == ["DELETE"] and len(lines) + done.stderr.count("entry 1: ") == 2


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
