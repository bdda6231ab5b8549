"""Records every request a program sends with httpx or requests, and writes
them at the end as a collection to import into Postman.

    python examples/record_session.py [collection.json]

Without a path, the collection goes into a fresh temporary folder; the last
line says where.

An httpx event hook sees each request before it goes out; a requests response
hook sees the prepared request that went out. Both add it to one collection.
Here the program's requests go to a small server started on 127.0.0.1.

The hooks never raise into the program: a request pemrik cannot hold (a body
that is not UTF-8 text, such as an image; a streamed body, which the hook does
not read; a method outside the nine) is left out of the recording, named on
stderr and counted, and the program's request goes on as if nothing had
happened.
"""

import os
import sys
import tempfile
import threading
from collections.abc import Iterator
from contextlib import contextmanager
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import httpx
import requests

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection


class Recorder:
    def __init__(self) -> None:
        self.collection = PemrikCollection()
        self.skipped = 0

    @contextmanager
    def recording(self, method: str, url: str) -> Iterator[None]:
        # Whatever goes wrong here stays here: the request is not recorded.
        try:
            yield
        except Exception as error:
            self.skipped += 1
            print(f"not recorded: {method} {url}: {error}", file=sys.stderr)

    def add(
        self, method: str, url: str, headers: list[tuple[str, str]], body: str | bytes | None
    ) -> None:
        member = getattr(HTTPMETHOD, method.upper(), None)
        if not isinstance(member, HTTPMETHOD):
            raise ValueError("pemrik has no such method")
        if isinstance(body, bytes):
            try:
                body = body.decode("utf-8")
            except UnicodeDecodeError:
                raise ValueError("the body is binary, and pemrik holds text") from None
        self.collection.add_request(Pemrik(url, headers, member, body or None))

    def httpx_hook(self, request: httpx.Request) -> None:
        with self.recording(request.method, str(request.url)):
            try:
                body = request.content
            except httpx.RequestNotRead:
                raise ValueError("the body is streamed, and the hook does not read it") from None
            encoding = request.headers.encoding
            headers = [(k.decode(encoding), v.decode(encoding)) for k, v in request.headers.raw]
            self.add(request.method, str(request.url), headers, body)

    def requests_hook(self, response: requests.Response, *args: object, **kwargs: object) -> None:
        sent = response.request
        with self.recording(sent.method or "GET", sent.url or ""):
            if not isinstance(sent.body, (str, bytes, type(None))):
                raise ValueError("the body was streamed from a file or generator")
            self.add(sent.method or "GET", sent.url or "", list(sent.headers.items()), sent.body)


class Answer(BaseHTTPRequestHandler):
    def answer(self) -> None:
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = answer

    def log_message(self, format: str, *args: object) -> None:
        pass


def main() -> None:
    server = ThreadingHTTPServer(("127.0.0.1", 0), Answer)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    recorder = Recorder()

    # The program's own work, unchanged apart from the hooks.
    with httpx.Client(event_hooks={"request": [recorder.httpx_hook]}) as client:
        client.get(f"{base}/api/items", params={"tag": "new"})
        client.post(f"{base}/api/items", json={"id": 7, "name": "it's here"})
    with requests.Session() as session:
        session.hooks["response"].append(recorder.requests_hook)
        session.put(f"{base}/api/items/7", data="plain text", headers={"X-Trace": "1"})
        session.post(f"{base}/api/items/7/image", data=b"\x89PNG\r\n\x1a\n")  # not recorded
        session.delete(f"{base}/api/items/7")
    server.shutdown()

    for number, request in enumerate(recorder.collection.get_collection() or [], 1):
        try:
            print(request.get_request_command())
        except ValueError as error:  # curl cannot be given this request faithfully
            print(f"request {number}: no command line: {error}", file=sys.stderr)
    if recorder.skipped:
        print(f"{recorder.skipped} request(s) not recorded, see above", file=sys.stderr)
    if len(sys.argv) > 1:
        path = sys.argv[1]
    else:  # a fresh temporary folder, never the current one
        path = os.path.join(tempfile.mkdtemp(prefix="pemrik-"), "session.postman_collection.json")
    with open(path, "w", encoding="utf-8") as f:
        f.write(recorder.collection.export_collection())
    print(f"written: {path}")


if __name__ == "__main__":
    main()
