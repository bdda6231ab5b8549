"""Local HTTP servers that record each request exactly as its bytes arrived.

A recorded request is (scheme, method, target, headers, body): the scheme of
the listener it came in on ("http" or "https"), the method and target of the
request line, the header lines as (name, value) byte pairs in order (the value
is everything after the colon, blanks included), and the body as framed by Content-Length.
Every answer is an empty 200 that closes the connection; a server made with
hang_up_on={b"CONNECT"} closes the connection without answering those methods
instead (a client may take any answer to CONNECT as an open tunnel).
"""

import os
import shutil
import socketserver
import ssl
import subprocess
import threading
from pathlib import Path
from typing import NamedTuple


class Received(NamedTuple):
    scheme: str
    method: bytes
    target: bytes
    headers: list[tuple[bytes, bytes]]
    body: bytes


class RecordingHandler(socketserver.StreamRequestHandler):
    timeout = 30  # seconds a client may stall mid-request

    def setup(self):
        if self.server.tls is not None:
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
        super().setup()

    def handle(self):
        try:
            line = self.rfile.readline()
            if not line:
                return
            method, target, _ = line.split(b" ", 2)
            headers = []
            while (line := self.rfile.readline()) not in (b"\r\n", b"\n", b""):
                name, _, value = line.rstrip(b"\r\n").partition(b":")
                headers.append((name, value))
            fields = {n.lower(): v.strip(b" \t") for n, v in headers}
            if fields.get(b"expect", b"").lower() == b"100-continue":
                self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
            body = self.rfile.read(int(fields.get(b"content-length", b"0")))
        except (OSError, ValueError) as error:  # a broken request is recorded as such
            with self.server.lock:
                self.server.failures.append(repr(error))
            return
        with self.server.lock:
            self.server.received.append(Received(self.server.scheme, method, target, headers, body))
        if method not in self.server.hang_up_on:
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


class RecordingServer(socketserver.ThreadingTCPServer):
    daemon_threads = True

    def __init__(
        self, tls: ssl.SSLContext | None = None, hang_up_on: frozenset[bytes] = frozenset()
    ):
        super().__init__(("127.0.0.1", 0), RecordingHandler)
        self.tls, self.hang_up_on = tls, hang_up_on
        self.scheme = "https" if tls else "http"
        self.lock = threading.Lock()
        self.received: list[Received] = []
        self.failures: list[str] = []
        self.thread = threading.Thread(target=self.serve_forever, args=(0.05,), daemon=True)

    @property
    def base(self) -> str:
        return f"{self.scheme}://127.0.0.1:{self.server_address[1]}"

    def take(self) -> list[Received]:
        """The requests received so far, in order of arrival; the record starts afresh."""
        with self.lock:
            got, self.received = self.received, []
            return got

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.shutdown()
        self.server_close()


def self_signed_context(folder: Path) -> ssl.SSLContext | None:
    """A server TLS context with a fresh self-signed certificate for 127.0.0.1,
    or None when the openssl command is missing."""
    if not shutil.which("openssl"):
        return None
    cert, key = folder / "cert.pem", folder / "key.pem"
    subprocess.run(
        [
            "openssl",
            "req",
            "-x509",
            "-newkey",
            "rsa:2048",
            "-nodes",
            "-days",
            "2",
            "-subj",
            "/CN=127.0.0.1",
            "-addext",
            "subjectAltName=IP:127.0.0.1",
            "-keyout",
            str(key),
            "-out",
            str(cert),
        ],
        check=True,
        capture_output=True,
        timeout=60,
        env={"PATH": os.environ.get("PATH", "")},
    )
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context
