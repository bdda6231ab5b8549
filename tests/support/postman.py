"""For the real clients: Postman's schema (in PEMRIK_POSTMAN, else shared/postman beside
the repository), newman (on PATH, else PEMRIK_NEWMAN, else build/newman/ from `dev.sh test`),
a recording server. Without a tool its tests skip, or fail if PEMRIK_REQUIRE_CLIENTS is set."""

import functools
import json
import os
import shutil
import socketserver
import ssl
import subprocess
import threading
from pathlib import Path

import pytest
from jsonschema import Draft7Validator

ROOT = Path(__file__).resolve().parents[2]
FOLDER = Path(os.environ.get("PEMRIK_POSTMAN") or ROOT.parent / "shared" / "postman")
NEWMAN_JS = ROOT / "build" / "newman" / "node_modules" / "newman" / "bin" / "newman.js"
OPENSSL = "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1"  # newman --insecure


def unavailable(reason: str) -> None:
    """Skips the test, or fails it when the clients are required."""
    if os.environ.get("PEMRIK_REQUIRE_CLIENTS"):
        pytest.fail(reason + " (PEMRIK_REQUIRE_CLIENTS is set)")
    pytest.skip(reason)


@functools.cache
def _validator():
    if (path := FOLDER / "collection-v2.1.0.schema.json").is_file():
        schema = json.loads(path.read_text(encoding="utf-8"))
        return Draft7Validator(schema, format_checker=Draft7Validator.FORMAT_CHECKER)


def schema_errors(text: str) -> list[str]:
    """Every way the document text breaks the schema (skips when it is missing)."""
    if _validator() is None:
        unavailable(f"no Postman collection schema in {FOLDER} (set PEMRIK_POSTMAN to its folder)")
    errors = _validator().iter_errors(json.loads(text))
    return [f"{'/'.join(map(str, e.absolute_path))}: {e.message}" for e in errors]


def conforms(text: str) -> bool:
    """True when the text validates or the schema is missing (its own tests report that)."""
    return _validator() is None or _validator().is_valid(json.loads(text))


def newman_command() -> list[str]:
    """The command that starts newman; skips (or fails) the test when there is none."""
    if shutil.which("newman"):
        return [shutil.which("newman")]
    script = Path(os.environ.get("PEMRIK_NEWMAN") or NEWMAN_JS)
    if not (script.is_file() and shutil.which("node")):
        unavailable(f"no newman on PATH, nor node and {script} (see PEMRIK_NEWMAN, dev.sh test)")
    return [shutil.which("node"), str(script)]


def run_newman(collection: str, folder: Path) -> str:
    """Runs a collection through newman (no proxy, no user settings, any certificate)."""
    (folder / "collection.json").write_text(collection, encoding="utf-8")
    env = {"PATH": os.environ["PATH"], "HOME": str(folder), "LC_ALL": "C.UTF-8", "NO_COLOR": "1"}
    command = [*newman_command(), "run", "collection.json", "--insecure"]
    done = subprocess.run(command, cwd=folder, env=env, capture_output=True, text=True, timeout=600)
    return done.stdout + done.stderr


class _Recorder(socketserver.StreamRequestHandler):
    def handle(self):
        if not (line := self.rfile.readline()):
            return
        method, target, _ = line.split(b" ", 2)
        lines = iter(lambda: self.rfile.readline().rstrip(b"\r\n"), b"")  # up to the blank line
        headers = [tuple(line.split(b":", 1)) for line in lines]
        length = sum(int(v) for n, v in headers if n.lower() == b"content-length")
        self.server.received.append((method, target, headers, self.rfile.read(length)))
        if method not in self.server.hang_up:
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


class RecordingServer(socketserver.ThreadingTCPServer):
    """Records requests as their bytes arrive: (method, target, [(name, what follows the
    colon)], body). Answers an empty 200 and closes, but hangs up on the methods in
    hang_up; given a folder for a fresh self-signed certificate, it speaks TLS."""

    daemon_threads = True

    def __init__(self, tls_folder: Path | None = None, hang_up=()):
        self.tls, self.hang_up, self.received = None, hang_up, []
        if tls_folder:
            if not shutil.which("openssl"):
                unavailable("openssl is missing: the https cases need a self-signed certificate")
            key, cert = tls_folder / "key.pem", tls_folder / "cert.pem"
            command = [*OPENSSL.split(), "-keyout", key, "-out", cert]
            subprocess.run(command, check=True, capture_output=True)
            self.tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            self.tls.load_cert_chain(cert, key)
        super().__init__(("127.0.0.1", 0), _Recorder)
        self.base = f"{'https' if self.tls else 'http'}://127.0.0.1:{self.server_address[1]}"
        threading.Thread(target=self.serve_forever, args=(0.05,), daemon=True).start()

    def get_request(self):
        sock, address = super().get_request()
        return (self.tls.wrap_socket(sock, server_side=True) if self.tls else sock), address

    def __exit__(self, *exc):
        self.shutdown()
        self.server_close()
