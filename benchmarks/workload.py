"""The request data every contender works on, made the same way each time.

A request is described by plain Python data, a tuple
(url, headers, method index, body), from which both pemrik objects and the
pure-Python contenders are built.
"""

import os
import random
import sys
import uuid

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection

# The method names, like every rule of the texts, come from the tests' oracles.
sys.path.insert(
    0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests")
)
from support.oracles import METHODS as METHOD_NAMES

METHODS = tuple(getattr(HTTPMETHOD, name) for name in METHOD_NAMES)

_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
# One session token for the whole collection, as a client would send it.
TOKEN = "".join(random.Random(6).choice(_ALPHABET) for _ in range(40))
BEARER = "Bearer " + TOKEN


def iter_fields(n, seed=6, accent=False):
    """Yields the fields of requests 0..n-1; every url, id and body is a new str.

    With accent, each body holds one non-ASCII character (an é in the name).
    """
    rng = random.Random(seed)
    item = "itém" if accent else "item"
    for i in range(n):
        request_id = str(uuid.UUID(int=rng.getrandbits(128), version=4))
        headers = [
            ("Accept", "application/json"),
            ("Authorization", BEARER),
            ("X-Request-Id", request_id),
        ]
        body = None
        if i % 2 == 0:
            body = f'{{"id":{i},"name":"{item} {i}","price":{i % 997}.50,"tags":["new","sale"]}}'
        yield (
            f"https://api.example.com:8443/v1/items/{i}?page={i}&limit=50",
            headers,
            i % len(METHODS),
            body,
        )


def plain_requests(n, accent=False):
    """The requests as plain data with the method as its upper-case name."""
    return [
        (url, headers, METHOD_NAMES[m], body)
        for url, headers, m, body in iter_fields(n, accent=accent)
    ]


def pemrik_args(fields):
    url, headers, m, body = fields
    return url, headers, METHODS[m], body


def arguments(n, accent=False):
    """Pemrik's arguments for requests 0..n-1, to make fresh requests from."""
    return [pemrik_args(fields) for fields in iter_fields(n, accent=accent)]


def fresh_collection(args):
    """A collection of requests made just now, never rendered nor exported."""
    return PemrikCollection([Pemrik(*a) for a in args])


def pemrik_collection(n):
    collection = PemrikCollection()
    add = collection.add_request
    for fields in iter_fields(n):
        add(Pemrik(*pemrik_args(fields)))
    return collection


def sample_fields(i=42):
    """Fields of request i of the collection (42 carries a body)."""
    for k, fields in enumerate(iter_fields(i + 1)):
        if k == i:
            return fields
    raise IndexError(i)
