"""Every public operation and error path as a call expression over the names objects() gives; the
out-of-memory sweep runs OPERATIONS, the leak checks (and scripts/tasks/valgrind.sh) all of them."""

import contextlib
import operator  # noqa: F401 (the expressions use it)
import sys
import sysconfig
from collections import deque  # noqa: F401
from unittest import mock

from pemrik import HTTPMETHOD as M
from pemrik import Pemrik, PemrikCollection
from support.hostile import Seq  # noqa: F401

# Every public operation and error path; after the blank line, those that run Python code inside
# the call, which the allocation sweep leaves out.
CALLS = """\
Pemrik(URL, HEADERS, M.POST, BODY); Pemrik(URL, deque(HEADERS), M.PATCH)
Pemrik(body=BODY, method=M.DELETE, headers=tuple(HEADERS), url=ASCII)
PemrikCollection(); PemrikCollection(REQS); PemrikCollection(collection=deque(REQS))
PemrikCollection().add_request(REQS[0]); PemrikCollection(REQS).add_request(pemrik=REQS[2])
PemrikCollection(REQS).get_collection(); PemrikCollection().get_collection()
PemrikCollection(REQS).export_collection(); PemrikCollection(REQS + [CUT]).export_collection()
REQS[0].get_request_command(); REQS[1].get_request_command(); repr(M.OPTIONS); int(M.CONNECT)
operator.eq(M.GET, M.GET); operator.ne(M.GET, 0); operator.lt(M.GET, M.POST); M('GET')
Pemrik(URL, HEADERS, M.GET, BODY, 5); Pemrik(URL); Pemrik(URL, HEADERS, M.GET, url=URL)
Pemrik(URL, HEADERS, M.GET, **{SURROGATE: 1}); Pemrik(5, HEADERS, M.GET); Pemrik(SURROGATE, HEADERS, M.GET)
PemrikCollection().add_request(REQS[0], REQS[1]); PemrikCollection().add_request(request=REQS[0])
Pemrik(URL, 'x', M.GET); Pemrik(URL, {}, M.GET); Pemrik(URL, [['a', 'b']], M.GET)
Pemrik(URL, [('a', 'b', 'c')], M.GET); Pemrik(URL, HEADERS + [('a', 1)], M.GET)
Pemrik(URL, HEADERS + [('a', SURROGATE)], M.GET); Pemrik(URL, HEADERS, 'GET'); Pemrik(URL, HEADERS, M.GET, 5)
PemrikCollection(REQS + [1]); PemrikCollection(REQS).add_request('x')
Pemrik(URL, raising(PANIC('came back through script code ' + 'p' * 40)), M.GET)
Pemrik(URL, raising(Unprintable()), M.GET)

Pemrik(URL, Seq(HEADERS), M.PATCH); PemrikCollection(collection=Seq(REQS))
Pemrik(URL, Seq(HEADERS[:2] + [KeyError(URL)], 9), M.GET); PemrikCollection(Seq(REQS + [TypeError(BODY)], 9))
Pemrik(URL, Seq(HEADERS[:2] + [caused(TypeError(URL), KeyError(BODY))], 9), M.GET)
Pemrik(URL, Seq(HEADERS[:2] + [TypeError(Unprintable())], 9), M.GET)"""
OPERATIONS, THROUGH_SEQUENCES = (c.replace("\n", "; ").split("; ") for c in CALLS.split("\n\n"))

# Objects whose counts are watched: free-threaded builds keep a class's references from its
# instances apart (per thread, deferred), so a class's count moves as instances come and go.
CLASSES = [] if sysconfig.get_config_var("Py_GIL_DISABLED") else [Pemrik, PemrikCollection, M]
# The module's internal failure, raised again when it comes back through script code.
PANIC = next(c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime")
Unprintable = type("Unprintable", (PANIC,), {"__str__": lambda s: 1 / 0})
caused = lambda e, cause: setattr(e, "__cause__", cause) or e  # noqa: E731


def raising(exc):  # made beforehand; the raising frame holds no argument of the call
    def item(i):
        raise exc

    return type("Raising", (), {"__len__": lambda s: 1, "__getitem__": staticmethod(item)})()


def objects(size):
    """The names above and fresh objects, with texts of about `size` characters."""
    url = "https://例え.test:8443/api/it'ems?id=7&q=" + "x" * size
    ascii_url = "http://127.0.0.1:8080/api/items/" + "y" * size
    headers = [("Accept-" + "a" * size, 'application/json "$`\\ ' * 3)]
    headers.append(("X-\x01-Trace", "é" * size))
    body = '@{"id": 7, "name": "it\'s here"}' + "\n\t" * size
    reqs = [Pemrik(url, headers, M.POST, body), Pemrik(ascii_url, [], M.GET)]
    reqs.append(Pemrik(ascii_url, headers, M.CONNECT, ""))
    return dict(
        globals(), URL=url, ASCII=ascii_url, HEADERS=headers, BODY=body, REQS=reqs,
        CUT=Pemrik("/no-host" * 4, [], M.GET), SURROGATE="x\ud800y" * size,
        STATIC=[*CLASSES, *(m for m in vars(M).values() if type(m) is M)],
    )  # fmt: skip


def exercise(calls, namespace, rounds):
    """Evaluates every call expression `rounds` times; failures are expected."""
    with mock.patch.object(sys, "unraisablehook", lambda u: None):
        for call in [compile(expr, expr, "eval") for expr in calls] * rounds:
            with contextlib.suppress(Exception, PANIC):
                eval(call, namespace)
