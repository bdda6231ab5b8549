"""Records every request a program sends with httpx or requests, and writes
them at the end as a collection to import into Postman.

    python examples/record_session.py [collection.json]

An httpx event hook sees each request before it goes out; a requests response
hook sees the prepared request that went out. Both add it to one collection.
Here the program's requests go to a small server started on 127.0.0.1.
"""

import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import httpx
import requests

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection


class Recorder:
    def __init__(self) -> None:
        self.collection = PemrikCollection()

    def add(
        self, method: str, url: str, headers: list[tuple[str, str]], body: str | bytes | None
    ) -> None:
        text = body.decode("utf-8") if isinstance(body, bytes) else body
        self.collection.add_request(
            Pemrik(url, headers, getattr(HTTPMETHOD, method.upper()), text or None)
        )

    def httpx_hook(self, request: httpx.Request) -> None:
        encoding = request.headers.encoding
        headers = [(k.decode(encoding), v.decode(encoding)) for k, v in request.headers.raw]
        self.add(request.method, str(request.url), headers, request.read())

    def requests_hook(self, response: requests.Response, *args: object, **kwargs: object) -> None:
        sent = response.request
        body = sent.body if isinstance(sent.body, (str, bytes)) else None
        self.add(sent.method or "GET", sent.url or "", list(sent.headers.items()), body)


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
        session.delete(f"{base}/api/items/7")
    server.shutdown()

    for request in recorder.collection.get_collection() or []:
        print(request.get_request_command())
    path = sys.argv[1] if len(sys.argv) > 1 else "session.postman_collection.json"
    with open(path, "w", encoding="utf-8") as f:
        f.write(recorder.collection.export_collection())
    print(f"written: {path}")


if __name__ == "__main__":
    main()
