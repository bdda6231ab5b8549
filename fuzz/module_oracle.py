"""What each call of the module must give, worked out in plain Python.

A record is (url, [(name, value), ...], method name, body or None). The
expectation of a call is either ("ok", result) or ("raise", type, message);
message None means "the interpreter's own message" (checked separately).
"""

import sys
from pathlib import Path

from pemrik import HTTPMETHOD, Pemrik

# The texts themselves come from the test suite's oracles, the one copy of each.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))
from support.oracles import curl_line, export_text

VEC = "Can't extract `str` to `Vec`"


class Refused(Exception):
    """An expected failure: the exception type and its message."""

    def __init__(self, kind, message):
        super().__init__(kind, message)
        self.kind, self.message = kind, message


def conv(argument, obj, target):
    return Refused(
        TypeError,
        f"argument '{argument}': '{type(obj).__name__}' object cannot be converted to '{target}'",
    )


def string(argument, obj):
    if not isinstance(obj, str):
        raise conv(argument, obj, "PyString")
    try:
        obj.encode("utf-8")
    except UnicodeEncodeError as e:
        raise Refused(UnicodeEncodeError, str(e)) from None
    return str.__str__(obj)  # the content, whatever __str__ says


def is_sequence(obj):
    return not isinstance(obj, dict) and hasattr(type(obj), "__getitem__")


def items(argument, obj, each):
    if isinstance(obj, str):
        raise Refused(TypeError, f"argument '{argument}': {VEC}")
    if not is_sequence(obj):
        raise conv(argument, obj, "Sequence")
    return [each(x) for x in obj]


def header(x):
    if not isinstance(x, tuple):
        raise conv("headers", x, "PyTuple")
    # the tuple's own length and elements: a subclass cannot change what is read
    n = tuple.__len__(x)
    if n != 2:
        raise Refused(ValueError, f"expected tuple of length 2, but got tuple of length {n}")
    return string("headers", tuple.__getitem__(x, 0)), string("headers", tuple.__getitem__(x, 1))


def method(obj):
    if type(obj) is not HTTPMETHOD:
        raise conv("method", obj, "HTTPMETHOD")
    return repr(obj).removeprefix("HTTPMETHOD.")


def missing(names):
    quoted = [f"'{n}'" for n in names]
    listed = (
        quoted[0]
        if len(quoted) == 1
        else (
            " and ".join(quoted)
            if len(quoted) == 2
            else ", ".join(quoted[:-1]) + ", and " + quoted[-1]
        )
    )
    return f"missing {len(names)} required positional argument{'s' if len(names) > 1 else ''}: {listed}"


def new_request(args, records):
    """The record Pemrik(*args) makes, or Refused; records maps id() of a live Pemrik to its record."""
    if len(args) > 4:
        raise Refused(
            TypeError,
            f"Pemrik.__new__() takes from 3 to 4 positional arguments but {len(args)} were given",
        )
    if len(args) < 3:
        raise Refused(
            TypeError, "Pemrik.__new__() " + missing(["url", "headers", "method"][len(args) :])
        )
    url = string("url", args[0])
    pairs = items("headers", args[1], header)
    name = method(args[2])
    body = None if len(args) < 4 or args[3] is None else string("body", args[3])
    return url, pairs, name, body


def record_of(obj, argument, records):
    if type(obj) is not Pemrik:
        raise conv(argument, obj, "Pemrik")
    return records[id(obj)]


def new_collection(args, records):
    if len(args) > 1:
        raise Refused(
            TypeError,
            f"PemrikCollection.__new__() takes from 0 to 1 positional arguments but {len(args)} were given",
        )
    if not args or args[0] is None:
        return None
    return items("collection", args[0], lambda x: record_of(x, "collection", records))


def add_request(stored, args, records):
    if len(args) > 1:
        raise Refused(
            TypeError,
            f"PemrikCollection.add_request() takes 1 positional arguments but {len(args)} were given",
        )
    if not args:
        raise Refused(TypeError, "PemrikCollection.add_request() " + missing(["pemrik"]))
    return (stored or []) + [record_of(args[0], "pemrik", records)]


def command(record):
    return curl_line(*record)


def export(stored):
    """The document text, or Refused for a url with fewer than two "/"."""
    for i, (url, *_) in enumerate(stored or []):
        if url.count("/") < 2:
            raise Refused(
                ValueError,
                f"cannot export the request at position {i} of the collection: "
                f"its url '{url}' holds fewer than two '/'",
            )
    return export_text(stored or [])
