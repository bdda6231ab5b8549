"""Every public operation and error path as a call expression over shared
objects; the out-of-memory sweeps and the leak checks run them all."""

import collections
import operator
import sys

from pemrik import HTTPMETHOD as M
from pemrik import Pemrik, PemrikCollection
from support.hostile import Seq, hostile

OPERATIONS = [
    "Pemrik(URL, HEADERS, M.POST, BODY)",
    "Pemrik(body=BODY, method=M.DELETE, headers=tuple(HEADERS), url=ASCII)",
    "Pemrik(URL, deque(HEADERS), M.PATCH)",
    "PemrikCollection()",
    "PemrikCollection(REQS)",
    "PemrikCollection(collection=deque(REQS))",
    "PemrikCollection().add_request(REQS[0])",
    "PemrikCollection(REQS).add_request(pemrik=REQS[2])",
    "PemrikCollection(REQS).get_collection()",
    "PemrikCollection().get_collection()",
    "PemrikCollection(REQS).export_collection()",
    "PemrikCollection(REQS + [CUT]).export_collection()",
    "REQS[0].get_request_command()",
    "REQS[1].get_request_command()",
    "repr(M.OPTIONS)",
    "int(M.CONNECT)",
    "operator.eq(M.GET, M.GET)",
    "operator.ne(M.GET, 0)",
    "operator.lt(M.GET, M.POST)",
    "hash(M.GET)",
    "M('GET')",
    "Pemrik(URL, HEADERS, M.GET, BODY, 5)",
    "Pemrik(URL)",
    "Pemrik(URL, HEADERS, M.GET, url=URL)",
    "Pemrik(URL, HEADERS, M.GET, **{SURROGATE: 1})",
    "PemrikCollection().add_request(REQS[0], REQS[1])",
    "PemrikCollection().add_request(request=REQS[0])",
    "Pemrik(5, HEADERS, M.GET)",
    "Pemrik(SURROGATE, HEADERS, M.GET)",
    "Pemrik(URL, HEADERS + [('a', SURROGATE)], M.GET)",
    "Pemrik(URL, 'x', M.GET)",
    "Pemrik(URL, {}, M.GET)",
    "Pemrik(URL, [['a', 'b']], M.GET)",
    "Pemrik(URL, [('a', 'b', 'c')], M.GET)",
    "Pemrik(URL, HEADERS + [('a', 1)], M.GET)",
    "Pemrik(URL, HEADERS, 'GET')",
    "Pemrik(URL, HEADERS, M.GET, 5)",
    "PemrikCollection(REQS + [1])",
    "PemrikCollection(REQS).add_request('x')",
]

# Python code runs inside these calls, so the allocation sweeps leave them out.
THROUGH_SEQUENCES = [
    "Pemrik(URL, Seq(HEADERS), M.PATCH)",
    "PemrikCollection(collection=Seq(REQS))",
    "Pemrik(URL, Seq(HEADERS[:2] + [KeyError(URL)], 9), M.GET)",
    "PemrikCollection(Seq(REQS + [TypeError(BODY)], 9))",
    "Pemrik(URL, Seq(HEADERS[:2] + [caused(TypeError(URL), KeyError(BODY))], 9), M.GET)",
    "Pemrik(URL, Seq(HEADERS[:2] + [TypeError(hostile(object, ['__str__'])())], 9), M.GET)",
]


def caused(e, cause):
    e.__cause__ = cause
    return e


def objects(size):
    """Fresh objects for the calls, with texts of about `size` characters."""
    url = "https://例え.test:8443/api/it'ems?id=7&q=" + "x" * size
    ascii_url = "http://127.0.0.1:8080/api/items/" + "y" * size
    headers = [
        ("Accept-" + "a" * size, 'application/json "$`\\ ' * 3),
        ("X-\x01-Trace", "é" * size),
    ]
    body = '@{"id": 7, "name": "it\'s here"}' + "\n\t" * size
    reqs = [
        Pemrik(url, headers, M.POST, body),
        Pemrik(ascii_url, [], M.GET),
        Pemrik(ascii_url, headers, M.CONNECT, ""),
    ]

    def settle(receiver):  # a collection must be free to change again
        if isinstance(receiver, PemrikCollection):
            receiver.add_request(reqs[1])

    return dict(
        M=M,
        Pemrik=Pemrik,
        PemrikCollection=PemrikCollection,
        deque=collections.deque,
        operator=operator,
        Seq=Seq,
        hostile=hostile,
        caused=caused,
        settle=settle,
        URL=url,
        ASCII=ascii_url,
        HEADERS=headers,
        BODY=body,
        REQS=reqs,
        CUT=Pemrik("no-slash-" * 4, [], M.GET),
        SURROGATE="x\ud800y" * size,
        STATIC=[
            Pemrik,
            PemrikCollection,
            M,
            *(
                getattr(M, n)
                for n in "GET POST PUT DELETE HEAD OPTIONS PATCH TRACE CONNECT".split()
            ),
        ],
    )


def exercise(calls, namespace, rounds):
    """Evaluates every call expression `rounds` times; failures are expected."""
    codes = [compile(expr, expr, "eval") for expr in calls]
    hook, sys.unraisablehook = sys.unraisablehook, lambda u: None
    try:
        for _ in range(rounds):
            for code in codes:
                try:
                    eval(code, namespace)
                except Exception:
                    pass
    finally:
        sys.unraisablehook = hook
