"""Exported documents against the official Postman Collection v2.1.0 schema
(Draft 7, format checks on). The export tests check every document they make
against it too; here a document that is valid JSON but breaks the schema must
be refused, so that a passing check means something."""

import json

import pytest

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS
from support.postman import conforms, schema_errors

GET, POST = HTTPMETHOD.GET, HTTPMETHOD.POST


def worked_example() -> str:
    c = PemrikCollection(
        [Pemrik("http://127.0.0.1:8080/api/items?id=7", [("Accept", "application/json")], GET)]
    )
    c.add_request(Pemrik("https://127.0.0.1/api/items/", [], POST, '{"id":7}'))
    return c.export_collection()


COLLECTIONS = {
    "worked example": worked_example,
    "never held a list": lambda: PemrikCollection().export_collection(),
    "every method, duplicate and empty headers, empty and absent bodies": lambda: PemrikCollection(
        [
            Pemrik("http://h:1//a//?q=1#f", [("A", "1"), ("A", ""), ("", "")], m, b)
            for m in (getattr(HTTPMETHOD, n) for n in METHODS)
            for b in (None, "", '{"é": "\\u0000"}')
        ]
    ).export_collection(),
    "odd urls": lambda: PemrikCollection(
        [
            Pemrik(u, [], GET)
            for u in (
                "//",
                "x://",
                "file:///x/y",
                "a//b//c",
                "h://a/b?u=http://c#f",
                "http://[::1]:8080/",
                "it's /\u00e9/\U0001f600/\x00",
            )
        ]
    ).export_collection(),
}


@pytest.mark.parametrize("make", COLLECTIONS.values(), ids=COLLECTIONS.keys())
def test_exports_follow_the_schema(make):
    assert schema_errors(make()) == []


def broken(change):
    document = json.loads(worked_example())
    change(document)
    return json.dumps(document)


@pytest.mark.parametrize(
    "text, where",
    [
        (broken(lambda d: d["info"].pop("schema")), ""),
        (broken(lambda d: d.update(item={})), "item"),
        (
            broken(lambda d: d["item"][0]["request"].update(header={"Accept": "application/json"})),
            "item/0",
        ),
        (broken(lambda d: d["item"][1]["request"]["url"].update(path=7)), "item/1"),
        (broken(lambda d: d["item"][0]["request"].update(method=0)), "item/0"),
    ],
    ids=[
        "info without schema",
        "item an object",
        "header an object",
        "path a number",
        "method a number",
    ],
)
def test_a_document_that_breaks_the_schema_is_refused(text, where):
    json.loads(text)  # valid JSON all the same
    errors = schema_errors(text)
    assert errors and all(e.startswith(where) for e in errors), errors
    assert not conforms(text)
