"""The module target's input format: bytes to a short script of calls.

The input is a list of calls separated by 0xFF. A call is an operation byte
and then argument fields separated by 0xFE:

    op % 3 == 0   Pemrik(*fields)               (op & 0x40: by keyword)
    op % 3 == 1   PemrikCollection(*fields)
    op % 3 == 2   add_request(*fields) on the newest collection

A field is a kind byte and a payload (see value()). Containers hold items
separated by 0xFD, and an item's elements are separated by 0xFC; each item and
element is again a kind byte and a payload. None of these bytes occurs in
UTF-8, so text payloads can hold any character.
"""

import collections

METHODS = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]
PARAMETERS = ("url", "headers", "method", "body")
CALLS, FIELDS, ITEMS, ELEMENTS = b"\xff", b"\xfe", b"\xfd", b"\xfc"


class StrSub(str):
    def __str__(self):
        return "not the content"


class TupleSub(tuple):
    pass


Pair = collections.namedtuple("Pair", "name value")


class Seq:
    """A sequence of the script's own: item access only, and a length that may lie or fail."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if self.length is None:
            raise RuntimeError("no length")
        return self.length

    def __getitem__(self, i):
        return self.items[i]


def text(payload):
    """Any bytes as a str without lone surrogates: each byte outside valid UTF-8 as U+0000..U+00FF."""
    out, i = [], 0
    while i < len(payload):
        for n in (1, 2, 3, 4):
            try:
                out.append(payload[i : i + n].decode("utf-8"))
                i += n
                break
            except UnicodeDecodeError:
                continue
        else:
            out.append(chr(payload[i]))
            i += 1
    return "".join(out)


KINDS = [
    "str",
    "surrogates",
    "StrSub",
    "None",
    "int",
    "bytes",
    "list",
    "tuple",
    "Seq",
    "dict",
    "generator",
    "method",
    "method name",
    "earlier",
    "float",
    "empty str",
]


DEEPEST = 6  # containers nest at most this deep; a deeper one is an empty str


def value(field, earlier, depth=0):
    """One Python value from a field; earlier holds the objects made by previous calls."""
    if not field or depth > DEEPEST:
        return ""
    kind, payload = KINDS[field[0] % len(KINDS)], field[1:]
    if kind == "str":
        return text(payload)
    if kind == "surrogates":  # each byte outside valid UTF-8 becomes a lone surrogate
        return payload.decode("utf-8", "surrogateescape")
    if kind == "StrSub":
        return StrSub(text(payload))
    if kind == "None":
        return None
    if kind == "int":
        return len(payload)
    if kind == "bytes":
        return bytes(payload)
    if kind in ("list", "tuple", "Seq", "dict", "generator"):
        items = [item(i, earlier, depth + 1) for i in payload.split(ITEMS)] if payload else []
        if kind == "list":
            return items
        if kind == "tuple":
            return tuple(items)
        if kind == "Seq":
            lengths = [len(items), None, 0, len(items) + 3]
            return Seq(items, lengths[len(payload) % 4])
        if kind == "dict":
            return {i: x for i, x in enumerate(items)}
        return (x for x in items)
    if kind == "method":
        from pemrik import HTTPMETHOD  # here, so that seeds can be written without the module

        return getattr(HTTPMETHOD, METHODS[payload[0] % 9 if payload else 0])
    if kind == "method name":
        return "GET"
    if kind == "earlier":
        return earlier[payload[0] % len(earlier)] if earlier and payload else None
    if kind == "float":
        return 0.5
    return ""


ITEM_KINDS = ["tuple", "TupleSub", "Pair", "list", "value"]


def item(field, earlier, depth):
    """A container item: mostly a tuple of any number of elements."""
    if not field:
        return ()
    kind, payload = ITEM_KINDS[field[0] % len(ITEM_KINDS)], field[1:]
    if kind == "value":
        return value(payload, earlier, depth)
    elements = [value(e, earlier, depth) for e in payload.split(ELEMENTS)] if payload else []
    if kind == "tuple":
        return tuple(elements)
    if kind == "TupleSub":
        return TupleSub(elements)
    if kind == "Pair":
        return Pair(*(elements + ["", ""])[:2])
    return elements


def calls(data):
    """Yields (operation, arguments, keywords-or-None) for each call; values are built lazily."""
    for chunk in data.split(CALLS)[:8]:
        if not chunk:
            continue
        yield chunk[0], chunk[1:].split(FIELDS)[:6] if len(chunk) > 1 else []


# ---- encoding, for seeds -------------------------------------------------------


def k(kind, payload=b""):
    return bytes([KINDS.index(kind)]) + payload


def s(t):
    return k("str", t.encode("utf-8"))


def pair(a, b, kind="tuple"):
    return bytes([ITEM_KINDS.index(kind)]) + a + ELEMENTS + b


def headers(pairs, kind="list"):
    return k(kind, ITEMS.join(pairs))


def call(op, *fields):
    return bytes([op]) + FIELDS.join(fields)


def script(*calls_):
    return CALLS.join(calls_)
