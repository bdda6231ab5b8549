"""Requests made from the oracles' records, and what a request or collection reads as."""

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.oracles import METHODS  # noqa: F401 (imported from here too)


def make(records):  # requests from (url, headers, method name, body) records
    return [Pemrik(url, list(hs), getattr(HTTPMETHOD, m), body) for url, hs, m, body in records]


def outcome(call, *args, caught=Exception):  # call(*args), or what it raises as (type, text)
    try:
        return call(*args)
    except caught as e:
        return type(e), str(e)


def lines(x):
    """A request as its command line (or refusal, per outcome()); a collection or list, by item."""
    x = x.get_collection() if isinstance(x, PemrikCollection) else x
    x = outcome(x.get_request_command, caught=ValueError) if isinstance(x, Pemrik) else x
    return [lines(i) for i in x] if isinstance(x, list) else x
