"""The real clients: Postman's schema (in PEMRIK_POSTMAN, else shared/postman beside the
repository), newman (on PATH, else PEMRIK_NEWMAN, else build/newman/ from `dev.sh test`), and a
server recording what arrives. Without one, its tests skip, or fail under PEMRIK_REQUIRE_CLIENTS."""

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
SCHEMA = Path(os.environ.get("PEMRIK_POSTMAN") or ROOT.parent / "shared/postman") / "collection-v2.1.0.schema.json"  # fmt: skip
NEWMAN = Path(os.environ.get("PEMRIK_NEWMAN") or ROOT / "build/newman/node_modules/newman/bin/newman.js")  # fmt: skip


def unavailable(reason):
    if os.environ.get("PEMRIK_REQUIRE_CLIENTS"):
        pytest.fail(reason + " (PEMRIK_REQUIRE_CLIENTS is set)")
    pytest.skip(reason)


def schema_errors(text):
    """Every way the document text breaks the schema."""
    if not SCHEMA.is_file():
        unavailable(f"no {SCHEMA} (PEMRIK_POSTMAN names its folder)")
    schema = Draft7Validator(json.loads(SCHEMA.read_text("utf-8")), format_checker=Draft7Validator.FORMAT_CHECKER)  # fmt: skip
    return [f"{list(e.absolute_path)}: {e.message}" for e in schema.iter_errors(json.loads(text))]


def run_newman(collection, folder):
    """Runs a collection text through newman (no proxy, no user settings, any certificate)."""
    if shutil.which("newman"):
        command = ["newman"]
    elif shutil.which("node") and NEWMAN.is_file():
        command = ["node", str(NEWMAN)]
    else:
        unavailable(f"no newman on PATH, nor node and {NEWMAN} (PEMRIK_NEWMAN names it)")
    (folder / "collection.json").write_text(collection, encoding="utf-8")
    env = {"PATH": os.environ["PATH"], "HOME": str(folder), "LC_ALL": "C.UTF-8", "NO_COLOR": "1"}
    done = subprocess.run([*command, "run", "collection.json", "--insecure"], cwd=folder, env=env, capture_output=True, text=True, timeout=600)  # fmt: skip
    return done.stdout + done.stderr


class Recorder(socketserver.StreamRequestHandler):
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
    """Records requests as their bytes arrive: (method, target, [(name, what follows the colon)],
    body). Answers an empty 200 and closes, but hangs up on the methods in hang_up; given a
    folder for a fresh self-signed certificate, it speaks TLS."""

    daemon_threads = True

    def __init__(self, tls_folder=None, hang_up=()):
        self.tls, self.hang_up, self.received = None, hang_up, []
        if tls_folder:
            key, cert = tls_folder / "key.pem", tls_folder / "cert.pem"
            openssl = "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1".split()
            subprocess.run(
                [*openssl, "-keyout", key, "-out", cert], check=True, capture_output=True
            )
            self.tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            self.tls.load_cert_chain(cert, key)
        super().__init__(("127.0.0.1", 0), Recorder)
        self.base = f"{'https' if self.tls else 'http'}://127.0.0.1:{self.server_address[1]}"
        threading.Thread(target=self.serve_forever, args=(0.05,), daemon=True).start()

    def get_request(self):
        sock, address = super().get_request()
        return (self.tls.wrap_socket(sock, server_side=True) if self.tls else sock), address

    def __exit__(self, *exc):
        self.shutdown()
        self.server_close()
