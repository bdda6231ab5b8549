"""HTTP requests as immutable objects, rendered as curl command lines and exported as Postman
Collection Format v2.1.0 documents (compact JSON).

Every argument error is a TypeError naming the argument, e.g. "argument 'url': 'int' object
cannot be converted to 'PyString'"; a str holding a lone surrogate raises UnicodeEncodeError.
"""

from collections.abc import Sequence
from typing import ClassVar, Final, Self, final

__all__ = ["Pemrik", "PemrikCollection", "HTTPMETHOD"]

@final
class HTTPMETHOD:
    """The nine request methods; the class attributes are its only instances.

    repr() and str() give "HTTPMETHOD.GET"; int() gives 0 (GET) to 8 (CONNECT). A member is
    equal only to itself (never to an int or str), cannot be hashed (no set element or dict
    key) or ordered. HTTPMETHOD() raises TypeError "No constructor defined for HTTPMETHOD".
    """

    GET: Final[HTTPMETHOD]
    POST: Final[HTTPMETHOD]
    PUT: Final[HTTPMETHOD]
    DELETE: Final[HTTPMETHOD]
    HEAD: Final[HTTPMETHOD]
    OPTIONS: Final[HTTPMETHOD]
    PATCH: Final[HTTPMETHOD]
    TRACE: Final[HTTPMETHOD]
    CONNECT: Final[HTTPMETHOD]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, value: object, /) -> bool:
        """True only for the same member; never raises."""
    def __ne__(self, value: object, /) -> bool:
        """False only for the same member; never raises."""
    def __int__(self) -> int:
        """The member's value: 0 for GET, 1 for POST, ... 8 for CONNECT."""

@final
class Pemrik:
    """One HTTP request, immutable once made; it has no readable attributes.

    url is stored as given. headers is any sequence but a str of (name, value) tuples of two
    str, order and duplicates kept. body None (or left out) means no body; "" is an empty
    body. Errors, in argument order: TypeError "argument 'url': 'int' object cannot be converted
    to 'PyString'"; headers a str: "argument 'headers': Can't extract `str` to `Vec`"; not a
    sequence: "... cannot be converted to 'Sequence'"; an item not a tuple: "... to 'PyTuple'";
    a tuple of another length: ValueError "expected tuple of length 2, but got tuple of length
    N"; method not a member: "argument 'method': 'str' object cannot be converted to
    'HTTPMETHOD'".
    """

    def __new__(
        cls,
        url: str,
        headers: Sequence[tuple[str, str]],
        method: HTTPMETHOD,
        body: str | None = None,
    ) -> Self: ...
    def get_request_command(self) -> str:
        """The request as a curl command line a POSIX shell reads back word for word.

        curl -X METHOD URL, then -H "NAME: VALUE" per header, then -d 'BODY' (--data-raw 'BODY'
        when the body begins with "@"). The url stands bare when it is made of ASCII letters,
        digits and @%+=:,./-_ only, else in single quotes ('' when empty); a ' inside single
        quotes is written '\\''; inside the double quotes \\ " $ and ` get a backslash.

        Raises ValueError for a request no command line carries, naming the text and why: a NUL
        in any text, a CR or LF in a header, a header name beginning with "@".
        """

@final
class PemrikCollection:
    """An ordered collection of copies of requests, exported as a Postman collection.

    collection is None (or left out: the collection holds no list until the first
    add_request) or a sequence of Pemrik objects, copied in order. A str raises TypeError
    "argument 'collection': Can't extract `str` to `Vec`"; an item not a Pemrik raises
    "argument 'collection': 'int' object cannot be converted to 'Pemrik'".
    """

    def __new__(cls, collection: Sequence[Pemrik] | None = None) -> Self: ...
    def add_request(self, pemrik: Pemrik) -> None:
        """Appends a copy of the request; adding one object twice stores two copies.

        Raises TypeError "argument 'pemrik': 'str' object cannot be converted to 'Pemrik'"
        for anything but a Pemrik, and RuntimeError "Already borrowed" when called again from
        script code while another call on this collection is under way.
        """
    def get_collection(self) -> list[Pemrik] | None:
        """New copies of the stored requests, in the order they were added; None for a
        collection that never held a list (made without one and never added to)."""
    def export_collection(self) -> str:
        """The collection as a Postman Collection Format v2.1.0 document in compact JSON.

        Keys in ascending order, no blanks. Each request gives its method, headers, raw body
        ("" when it has none) and a url object: raw, protocol (the url's scheme, else https),
        host (the url's authority: after scheme://, else after a leading //, else from the
        start, up to the next /) and path (the rest, cut at every /).

        Raises ValueError "cannot export the request at position N of the collection: its url
        'U' has no host" for a stored url whose authority is empty ("", "/api/x", "http:///x").
        """
