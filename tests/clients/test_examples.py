"""The examples run as a user runs them, each in a fresh interpreter; every
collection they export follows Postman's official schema."""

import json
import subprocess
import sys
from pathlib import Path

import pytest

from support.oracles import curl_line
from support.postman import schema_errors

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
pytestmark = pytest.mark.skipif(not EXAMPLES.is_dir(), reason="no examples folder beside the tests")


def run(name, *args, cwd):
    done = subprocess.run(
        [sys.executable, str(EXAMPLES / name), *map(str, args)],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def items(text):
    assert schema_errors(text) == []
    return [
        (
            r["method"],
            r["url"]["raw"],
            [(h["key"], h["value"]) for h in r["header"]],
            r["body"]["raw"],
        )
        for r in (i["request"] for i in json.loads(text)["item"])
    ]


def test_demo(tmp_path):
    out = run("demo.py", cwd=tmp_path)
    assert [line.split()[2] for line in out[1:4]] == ["GET", "POST", "DELETE"]
    exported = "\n".join(
        out[out.index("exported collection (compact JSON, shown indented):") + 1 :]
    )
    assert [m for m, *_ in items(exported)] == ["GET", "POST", "DELETE"]


def test_from_http_clients(tmp_path):
    out = run("from_http_clients.py", cwd=tmp_path)
    assert [(m, u) for m, u, *_ in items(out[-1])] == [
        ("POST", "http://127.0.0.1:8080/api/items?tag=new"),
        ("PUT", "https://127.0.0.1/api/items/7"),
    ]


def test_record_session(tmp_path):
    out = run("record_session.py", tmp_path / "session.json", cwd=tmp_path)
    recorded = items((tmp_path / "session.json").read_text(encoding="utf-8"))
    assert out[-1] == f"written: {tmp_path / 'session.json'}"
    assert [line.split()[2] for line in out[:-1]] == ["GET", "POST", "PUT", "DELETE"]
    assert [(m, u.split("/", 3)[-1], b) for m, u, _, b in recorded] == [
        ("GET", "api/items?tag=new", ""),
        ("POST", "api/items", '{"id":7,"name":"it\'s here"}'),
        ("PUT", "api/items/7", "plain text"),
        ("DELETE", "api/items/7", ""),
    ]
    assert all(u.startswith("http://127.0.0.1:") for _, u, _, _ in recorded)
    # the headers each client really sent, its own included
    assert [dict(h).get("User-Agent", "").split("/")[0] for _, _, h, _ in recorded] == [
        "python-httpx"
    ] * 2 + ["python-requests"] * 2
    assert ("X-Trace", "1") in recorded[2][2]


def test_from_har(tmp_path):
    har = EXAMPLES / "session.har"
    out = run("from_har.py", har, tmp_path / "har.json", cwd=tmp_path)
    entries = [e["request"] for e in json.loads(har.read_text(encoding="utf-8"))["log"]["entries"]]
    expected = [
        (
            r["method"],
            r["url"],
            [(h["name"], h["value"]) for h in r["headers"] if h["name"][0] != ":"],
            r.get("postData", {}).get("text"),
        )
        for r in entries
    ]
    assert items((tmp_path / "har.json").read_text(encoding="utf-8")) == [
        (m, u, h, b or "") for m, u, h, b in expected
    ]
    assert out == [curl_line(u, h, m, b) for m, u, h, b in expected] + [
        f"written: {tmp_path / 'har.json'}",
    ]
