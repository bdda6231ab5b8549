"""Builds a few requests, prints their curl command lines and exports them."""

import json
import sys

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection


def main() -> None:
    requests = [
        Pemrik(
            "http://127.0.0.1:8080/api/items?id=7", [("Accept", "application/json")], HTTPMETHOD.GET
        ),
        Pemrik(
            "https://127.0.0.1/api/items/",
            [("Content-Type", "application/json"), ("X-Trace", "7")],
            HTTPMETHOD.POST,
            '{"id": 7, "name": "it\'s here"}',
        ),
        Pemrik("https://127.0.0.1/api/items/7", [], HTTPMETHOD.DELETE),
    ]
    print("curl command lines:")
    for number, request in enumerate(requests, 1):
        try:
            print(" ", request.get_request_command())
        except ValueError as error:  # curl cannot be given this request faithfully
            print(f"request {number}: no command line: {error}", file=sys.stderr)

    collection = PemrikCollection(requests[:2])
    collection.add_request(requests[2])
    exported = collection.export_collection()
    print("\nexported collection (compact JSON, shown indented):")
    print(json.dumps(json.loads(exported), indent=2))


if __name__ == "__main__":
    main()
