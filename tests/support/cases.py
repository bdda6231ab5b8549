"""Tables and views shared by the tests: the method names, in member order, and what a
request or collection reads as."""

from pemrik import Pemrik, PemrikCollection

METHODS = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]


def lines(x):
    """A request as its command line, a collection as its requests, a list item by item; else x."""
    x = x.get_collection() if isinstance(x, PemrikCollection) else x
    x = x.get_request_command() if isinstance(x, Pemrik) else x
    return [lines(i) for i in x] if isinstance(x, list) else x
