"""Turns a HAR 1.2 file, as the browser's developer tools export it, into a
collection for Postman and into curl command lines.

    python examples/from_har.py examples/session.har [collection.json]

Without a path, the collection goes into a fresh temporary folder; the last
line says where.

A form posted without its text is rebuilt from its parameters when it was
url-encoded; a multipart form is not (the HAR does not hold the files): its
request is kept without a body, with a note on stderr.
"""

import json
import os
import sys
import tempfile
from typing import NotRequired, TypedDict
from urllib.parse import urlencode

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection


class Pair(TypedDict):
    name: str
    value: str


class Param(TypedDict):
    name: str
    value: NotRequired[str]


class PostData(TypedDict, total=False):
    mimeType: str
    text: str
    params: list[Param]


class Request(TypedDict, total=False):
    method: str
    url: str
    headers: list[Pair]
    postData: PostData


# Headers that describe the recorded transfer, not the request: curl works them
# out again for what it sends. A stale Content-Length makes it wait for bytes
# that never come; Accept-Encoding makes it print compressed bytes. HTTP/2
# pseudo-headers (":authority", ":path"...) are already in the url.
TRANSFER = {"content-length", "accept-encoding", "host", "connection"}


def body_of(request: Request) -> str | None:
    post = request.get("postData")
    if post is None:
        return None
    params = post.get("params", [])
    if post.get("text") or not params:
        return post.get("text")
    mime = post.get("mimeType", "").split(";")[0].strip().lower()
    if mime == "application/x-www-form-urlencoded":
        return urlencode([(p["name"], p.get("value", "")) for p in params])
    print(f"{request['url']}: a {mime or 'form'} body cannot be rebuilt, left out", file=sys.stderr)
    return None


def from_entry(request: Request) -> Pemrik:
    headers = [
        (h["name"], h["value"])
        for h in request.get("headers", [])
        if not h["name"].startswith(":") and h["name"].lower() not in TRANSFER
    ]
    method = getattr(HTTPMETHOD, request["method"].upper(), None)
    if not isinstance(method, HTTPMETHOD):
        raise ValueError(f"pemrik has no method {request['method']!r}")
    return Pemrik(request["url"], headers, method, body_of(request))


def main() -> None:
    with open(sys.argv[1], encoding="utf-8") as f:
        entries = json.load(f)["log"]["entries"]
    collection = PemrikCollection()
    for number, entry in enumerate(entries, 1):
        try:
            request = from_entry(entry["request"])
        except ValueError as error:
            print(f"entry {number}: left out: {error}", file=sys.stderr)
            continue
        collection.add_request(request)
        try:
            print(request.get_request_command())
        except ValueError as error:  # curl cannot be given this request faithfully
            print(f"entry {number}: no command line: {error}", file=sys.stderr)
    if len(sys.argv) > 2:
        path = sys.argv[2]
    else:  # a fresh temporary folder, never the current one
        path = os.path.join(tempfile.mkdtemp(prefix="pemrik-"), "har.postman_collection.json")
    with open(path, "w", encoding="utf-8") as f:
        f.write(collection.export_collection())
    print(f"written: {path}")


if __name__ == "__main__":
    main()
