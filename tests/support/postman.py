"""Postman's schema, newman, and a server recording what arrives; without them, tests skip."""

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
POSTMAN = Path(os.environ.get("PEMRIK_POSTMAN") or ROOT.parent / "shared/postman")
SCHEMA = POSTMAN / "collection-v2.1.0.schema.json"
BUILT = ROOT / "build/newman/node_modules/newman/bin/newman.js"  # by `bash scripts/dev.sh test`
NEWMAN = Path(os.environ.get("PEMRIK_NEWMAN") or BUILT)


def need(found, reason):
    if not found:
        (pytest.fail if os.environ.get("PEMRIK_REQUIRE_CLIENTS") else pytest.skip)(reason)


def schema_errors(text):  # every way the document text breaks the schema
    need(SCHEMA.is_file(), f"no {SCHEMA} (PEMRIK_POSTMAN names its folder)")
    schema = json.loads(SCHEMA.read_text("utf-8"))
    validator = Draft7Validator(schema, format_checker=Draft7Validator.FORMAT_CHECKER)
    errors = validator.iter_errors(json.loads(text))
    return [f"{list(error.absolute_path)}: {error.message}" for error in errors]


def run_newman(collection, folder):  # what it prints (no proxy, no user settings, any certificate)
    command = ["newman"] if shutil.which("newman") else ["node", str(NEWMAN)]
    found = command[0] == "newman" or shutil.which("node") and NEWMAN.is_file()
    need(found, f"no newman on PATH, nor node and {NEWMAN} (PEMRIK_NEWMAN names it)")
    (folder / "collection.json").write_text(collection, encoding="utf-8")
    env = {"PATH": os.environ["PATH"], "HOME": str(folder), "LC_ALL": "C.UTF-8", "NO_COLOR": "1"}
    command += ["run", "collection.json", "--insecure"]
    done = subprocess.run(command, cwd=folder, env=env, capture_output=True, text=True, timeout=600)
    return done.stdout + done.stderr


def record(sock, address, server):  # one request, as its bytes arrive
    with sock.makefile("rwb") as stream:
        if not (line := stream.readline()):
            return
        method, target, _ = line.split(b" ", 2)
        header_lines = iter(lambda: stream.readline().rstrip(b"\r\n"), b"")  # to the blank line
        headers = [tuple(header.split(b":", 1)) for header in header_lines]
        length = sum(int(v) for n, v in headers if n.lower() == b"content-length")
        server.received.append((method, target, headers, stream.read(length)))
        if method not in server.hang_up:  # an empty 200, then closed; else hung up on
            stream.write(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


class RecordingServer(socketserver.ThreadingTCPServer):
    """Records each request as (method, target, [(name, what follows the colon)], body)."""

    daemon_threads = True

    def __init__(self, tls_folder=None, hang_up=()):
        self.hang_up, self.received = hang_up, []
        super().__init__(("127.0.0.1", 0), record)
        self.base = f"{'https' if tls_folder else 'http'}://127.0.0.1:{self.server_address[1]}"
        if tls_folder:  # TLS, a fresh self-signed certificate; the handshake made on accepting
            new = "-x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout key.pem -out cert.pem"
            run = ["openssl", "req", *new.split()]
            subprocess.run(run, cwd=tls_folder, check=True, capture_output=True)
            tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            tls.load_cert_chain(tls_folder / "cert.pem", tls_folder / "key.pem")
            self.socket = tls.wrap_socket(self.socket, server_side=True)
        threading.Thread(target=self.serve_forever, args=(0.05,), daemon=True).start()

    def __exit__(self, *exc):
        self.shutdown()
        self.server_close()
