"""Every public operation and error path as a call over the names objects() gives."""

import contextlib
import sys
from collections import deque  # noqa: F401 (the expressions use it)
from unittest import mock

from pemrik import HTTPMETHOD as M
from pemrik import Pemrik, PemrikCollection
from support.hostile import Seq  # noqa: F401

CALLS = """\
Pemrik(URL, HEADERS, M.POST, BODY); Pemrik(URL, deque(HEADERS), M.PATCH); PemrikCollection(REQS)
Pemrik(body=BODY, method=M.DELETE, headers=tuple(HEADERS), url=ASCII); PemrikCollection()
PemrikCollection(collection=deque(REQS)); PemrikCollection().add_request(REQS[0])
PemrikCollection(REQS).add_request(pemrik=REQS[2]); PemrikCollection(REQS).get_collection()
PemrikCollection().get_collection(); PemrikCollection(REQS).export_collection()
PemrikCollection(REQS + [Pemrik('/no-host' * 4, [], M.GET)]).export_collection()
REQS[0].get_request_command(); REQS[1].get_request_command(); repr(M.OPTIONS); int(M.CONNECT)
M('GET'); M.GET.__lt__(M.POST); M.GET.__eq__(M.GET); M.GET.__ne__(0); PemrikCollection(REQS + [1])
Pemrik(URL, HEADERS, M.GET, BODY, 5); Pemrik(5, HEADERS, M.GET); Pemrik(SURROGATE, HEADERS, M.GET)
Pemrik(URL, HEADERS, M.GET, url=URL); Pemrik(URL, HEADERS, M.GET, **{SURROGATE: 1})
PemrikCollection().add_request(REQS[0], REQS[1]); PemrikCollection().add_request(request=REQS[0])
Pemrik(URL, 'x', M.GET); Pemrik(URL, {}, M.GET); Pemrik(URL, [['a', 'b']], M.GET)
Pemrik(URL, HEADERS, M.GET, 5); Pemrik(URL, [('a', 'b', 'c')], M.GET); Pemrik(URL, HEADERS, 'GET')
Pemrik(URL, HEADERS + [('a', 1)], M.GET); Pemrik(URL, HEADERS + [('a', SURROGATE)], M.GET)
PemrikCollection(REQS).add_request('x'); Pemrik(URL, raising(Unprintable()), M.GET)
Pemrik(URL, raising(PANIC('came back through script code ' + 'p' * 40)), M.GET); Pemrik(URL)

Pemrik(URL, Seq(HEADERS), M.PATCH); PemrikCollection(collection=Seq(REQS))
PemrikCollection(Seq(REQS + [TypeError(BODY)], 9))
Pemrik(URL, Seq(HEADERS + [KeyError(URL)], 9), M.GET)
Pemrik(URL, Seq(HEADERS + [TypeError(Unprintable())], 9), M.GET)
Pemrik(URL, Seq(HEADERS + [caused(TypeError(URL), KeyError(BODY))], 9), M.GET)"""
OPERATIONS, THROUGH_SEQUENCES = (c.replace("\n", "; ").split("; ") for c in CALLS.split("\n\n"))

STATIC = [] if "t" in sys.abiflags else [Pemrik, PemrikCollection, M]  # free-threaded: kept apart
STATIC += [m for m in vars(M).values() if type(m) is M]
PANIC = next(c for c in BaseException.__subclasses__() if c.__module__ == "boundary_runtime")
Unprintable = type("Unprintable", (PANIC,), {"__str__": lambda s: 1 / 0})
caused = lambda e, cause: setattr(e, "__cause__", cause) or e  # noqa: E731


def raising(exc):  # made beforehand; the raising frame holds no argument of the call
    def item(i):
        raise exc

    return type("Raising", (), {"__len__": lambda s: 1, "__getitem__": staticmethod(item)})()


def objects(size):  # the names above and fresh objects, with texts of about `size` characters
    URL, ASCII = "https://例え.test:8443/it'ems?q=" + "x" * size, "http://127.0.0.1/a/" + "y" * size
    HEADERS = [("Accept-" + "a" * size, 'application/json "$`\\ ' * 3), ("X-\x01-T", "é" * size)]
    BODY, SURROGATE = '@{"id": 7, "name": "it\'s here"}' + "\n\t" * size, "x\ud800y" * size
    REQS = [Pemrik(URL, HEADERS, M.POST, BODY), Pemrik(ASCII, [], M.GET)]
    REQS += [Pemrik(ASCII, HEADERS, M.CONNECT, "")]
    return dict(globals(), **locals())


def exercise(calls, namespace, rounds):  # every call expression `rounds` times; failures expected
    with mock.patch.object(sys, "unraisablehook", lambda u: None):
        for call in [compile(expr, expr, "eval") for expr in calls] * rounds:
            with contextlib.suppress(Exception, PANIC):
                eval(call, namespace)
