"""Turns requests built with the requests and httpx libraries into Pemrik objects.

pemrik takes plain values, so a few lines of script cover each client: the
method name picks the HTTPMETHOD member, the headers become (name, value)
tuples in their order, and a byte body is decoded as UTF-8.
"""

import sys

import httpx
import requests

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection


def method_of(name: str) -> HTTPMETHOD:
    member = getattr(HTTPMETHOD, name.upper(), None)
    if not isinstance(member, HTTPMETHOD):
        raise ValueError(f"pemrik has no method {name!r}")
    return member


def text_of(body: str | bytes | None) -> str | None:
    # pemrik holds text only; an empty body means "no body" in both clients.
    if not body:
        return None
    return body.decode("utf-8") if isinstance(body, bytes) else body


def from_requests(prepared: requests.PreparedRequest) -> Pemrik:
    headers = [(name, value) for name, value in prepared.headers.items()]
    body = prepared.body if isinstance(prepared.body, (str, bytes)) else None
    return Pemrik(prepared.url or "", headers, method_of(prepared.method or "GET"), text_of(body))


def from_httpx(request: httpx.Request) -> Pemrik:
    # The raw pairs keep the names' spelling and every repeated name.
    encoding = request.headers.encoding
    headers = [
        (name.decode(encoding), value.decode(encoding)) for name, value in request.headers.raw
    ]
    return Pemrik(str(request.url), headers, method_of(request.method), text_of(request.read()))


def main() -> None:
    prepared = requests.Request(
        "POST",
        "http://127.0.0.1:8080/api/items",
        params={"tag": "new"},
        headers={"Accept": "application/json"},
        json={"id": 7},
    ).prepare()
    built = httpx.Request(
        "PUT",
        "https://127.0.0.1/api/items/7",
        headers=[("X-Trace", "1"), ("X-Trace", "2")],
        content="it's here",
    )

    collection = PemrikCollection()
    for number, request in enumerate((from_requests(prepared), from_httpx(built)), 1):
        try:
            print(request.get_request_command())
        except ValueError as error:  # curl cannot be given this request faithfully
            print(f"request {number}: no command line: {error}", file=sys.stderr)
        collection.add_request(request)
    print(collection.export_collection())


if __name__ == "__main__":
    main()
