"""What a Python user would write instead: the same texts from plain Python.

The contenders are the oracle's own functions in tests/support/oracles.py,
the one statement of each rule; the command line is its text alone, without
the refusals that pemrik checks too, as a user's function would be. run.py
still checks once per run, before timing anything, that each gives exactly
the oracle's text.
"""

from collections.abc import Sequence

from workload import METHOD_NAMES

from pemrik import HTTPMETHOD
from support import oracles

build_document = oracles.document  # the collection document as dicts
export_json = oracles.export_text  # R1: dicts plus the standard library's json


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
        method = METHOD_NAMES[int(self.method)]
        return oracles.quoted_line(self.url, self.headers, method, self.body)


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
