"""What a Python user would write instead: the same texts from plain Python.

These are contenders, not oracles: run.py checks once per run, before timing
anything, that each gives exactly the text of the oracle in
tests/support/oracles.py for the same data, as pemrik must.
"""

import json
import re
from collections.abc import Sequence

from workload import METHOD_NAMES

from pemrik import HTTPMETHOD

COLLECTION_NAME = "Pemrik Collection"
SCHEMA_URL = "https://schema.getpostman.com/json/collection/v2.1.0/collection.json"

_scheme = re.compile(r"([A-Za-z][A-Za-z0-9+.-]*)://").match
_bare_url = re.compile(r"[A-Za-z0-9@%+=:,./_-]*").fullmatch


def build_document(requests):
    """The collection document as dicts, from (url, headers, method name, body) tuples."""
    items = []
    append = items.append
    for url, headers, method, body in requests:
        pieces = url.split("/")
        if len(pieces) < 3:
            raise ValueError(f"url {url!r} holds fewer than two '/'")
        scheme = _scheme(url)
        append(
            {
                "name": url,
                "request": {
                    "body": {"mode": "raw", "raw": "" if body is None else body},
                    "header": [{"key": k, "value": v} for k, v in headers],
                    "method": method,
                    "url": {
                        "host": pieces[2],
                        "path": pieces[3:],
                        "protocol": scheme.group(1) if scheme else "https",
                        "raw": url,
                    },
                },
            }
        )
    return {"info": {"name": COLLECTION_NAME, "schema": SCHEMA_URL}, "item": items}


def export_json(requests):
    """R1: dicts plus the standard library's json."""
    return json.dumps(
        build_document(requests), sort_keys=True, separators=(",", ":"), ensure_ascii=False
    )


def make_orjson_exports():
    """R2 (dicts plus orjson) and R3 (orjson alone on a built document), or None."""
    try:
        import orjson
    except ImportError:
        return None
    dumps, sort_keys = orjson.dumps, orjson.OPT_SORT_KEYS

    def export_orjson(requests):
        return dumps(build_document(requests), option=sort_keys)

    def serialise_orjson(document):
        return dumps(document, option=sort_keys)

    return export_orjson, serialise_orjson


def _in_double_quotes(text):
    return text.replace("\\", "\\\\").replace('"', '\\"').replace("$", "\\$").replace("`", "\\`")


class PyRequest:
    """One request, checked and copied the way Pemrik does it."""

    __slots__ = ("url", "headers", "method", "body")

    def __init__(self, url, headers, method, body=None):
        if not isinstance(url, str):
            raise TypeError("argument 'url': expected str")
        if type(headers) is not list and type(headers) is not tuple:
            if isinstance(headers, str) or not isinstance(headers, Sequence):
                raise TypeError("argument 'headers': expected a sequence")
        copied = []
        for pair in headers:
            if not isinstance(pair, tuple) or len(pair) != 2:
                raise TypeError("argument 'headers': expected a tuple of length 2")
            if not isinstance(pair[0], str) or not isinstance(pair[1], str):
                raise TypeError("argument 'headers': expected str")
            copied.append(pair)
        if not isinstance(method, HTTPMETHOD):
            raise TypeError("argument 'method': expected HTTPMETHOD")
        if body is not None and not isinstance(body, str):
            raise TypeError("argument 'body': expected str")
        self.url = url
        self.headers = copied
        self.method = method
        self.body = body

    def copy(self):
        """A copy that skips the checks, its fields being known good."""
        new = _new_request(PyRequest)
        new.url = self.url
        new.headers = self.headers.copy()
        new.method = self.method
        new.body = self.body
        return new

    def get_request_command(self):
        url = self.url
        if _bare_url(url) is None:
            url = "'" + url.replace("'", "'\\''") + "'"
        parts = [f"curl -X {METHOD_NAMES[int(self.method)]} {url}"]
        for name, value in self.headers:
            parts.append(f' -H "{_in_double_quotes(name)}: {_in_double_quotes(value)}"')
        body = self.body
        if body is not None:
            opening = " --data-raw '" if body.startswith("@") else " -d '"
            parts.append(opening + body.replace("'", "'\\''") + "'")
        return "".join(parts)


_new_request = object.__new__


class PyCollection:
    __slots__ = ("requests",)

    def __init__(self):
        self.requests = []

    def add_request(self, request):
        if not isinstance(request, PyRequest):
            raise TypeError("argument 'pemrik': expected PyRequest")
        self.requests.append(request.copy())

    def get_collection(self):
        return [PyRequest(r.url, r.headers, r.method, r.body) for r in self.requests]

    def copies(self):
        return [r.copy() for r in self.requests]
