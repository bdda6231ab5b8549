"""Type information for the pemrik extension module."""

from collections.abc import Sequence
from typing import ClassVar, Final, Self, final

__all__ = ["Pemrik", "PemrikCollection", "HTTPMETHOD"]

@final
class HTTPMETHOD:
    """The nine request methods; the class attributes are its only instances."""

    GET: Final[HTTPMETHOD]
    POST: Final[HTTPMETHOD]
    PUT: Final[HTTPMETHOD]
    DELETE: Final[HTTPMETHOD]
    HEAD: Final[HTTPMETHOD]
    OPTIONS: Final[HTTPMETHOD]
    PATCH: Final[HTTPMETHOD]
    TRACE: Final[HTTPMETHOD]
    CONNECT: Final[HTTPMETHOD]
    # Members compare equal by value but cannot be hashed or ordered.
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    def __int__(self) -> int: ...

@final
class Pemrik:
    """One immutable HTTP request."""

    def __new__(
        cls,
        url: str,
        headers: Sequence[tuple[str, str]],
        method: HTTPMETHOD,
        body: str | None = None,
    ) -> Self: ...
    def get_request_command(self) -> str: ...

@final
class PemrikCollection:
    """An ordered collection of request copies, exported as a Postman collection."""

    def __new__(cls, collection: Sequence[Pemrik] | None = None) -> Self: ...
    def add_request(self, pemrik: Pemrik) -> None: ...
    def get_collection(self) -> list[Pemrik] | None: ...
    def export_collection(self) -> str: ...
