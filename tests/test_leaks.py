"""Leaks: every workflow and error path, repeated, leaves reference counts
exactly where they were and the process's memory flat.

`exercise()` is also what `bash scripts/dev.sh valgrind` runs under memcheck.
"""

import gc
import os
import sys
from pathlib import Path

import pytest

from conftest import run_child
from pemrik import HTTPMETHOD as M, Pemrik, PemrikCollection

MEMBERS = [getattr(M, n) for n in "GET POST PUT DELETE HEAD OPTIONS PATCH TRACE CONNECT".split()]


class Seq:
    """A sequence of the script's own that fails at position `fail`."""

    def __init__(self, items, fail=None):
        self.items, self.fail = items, fail

    def __len__(self):
        return 10**6

    def __getitem__(self, i):
        if i == len(self.items):
            if self.fail:
                raise self.fail
            raise IndexError(i)
        return self.items[i]


def expect(exc, call):
    try:
        call()
    except exc as e:
        assert type(e) is exc, e
    else:
        raise AssertionError(f"{exc.__name__} not raised")


def caused_type_error():
    try:
        raise KeyError("inner")
    except KeyError as e:
        raise TypeError("outer") from e


class Unprintable:
    def __str__(self):
        raise ValueError("no text")


def workflows(size):
    """name -> call, over arguments whose texts are about `size` characters."""
    url = "https://h:8/" + "é" * size
    body = "'" * size
    headers = [("N" * size, "v\x00" * size), ("A", "b")]
    r = Pemrik(url, headers, M.POST, body)
    requests = [r, Pemrik("https://h/a", [], M.GET), Pemrik("http://x/" + "y" * size, headers, M.PUT, "")]
    full = PemrikCollection(requests)
    bad = PemrikCollection(requests + [Pemrik("no slash" * size, [], M.GET)])
    surrogate = "\ud800" * size
    return {
        "Pemrik": lambda: Pemrik(url, headers, M.POST, body).get_request_command(),
        "Pemrik keywords": lambda: Pemrik(body=body, method=M.HEAD, headers=tuple(headers), url=url),
        "Pemrik iterated": lambda: Pemrik(url, Seq(headers), M.PATCH),
        "collection": lambda: PemrikCollection(requests).get_collection(),
        "collection iterated": lambda: PemrikCollection(collection=Seq(requests)).export_collection(),
        "add_request": lambda: PemrikCollection().add_request(r),
        "add_request keyword": lambda: PemrikCollection(requests).add_request(pemrik=requests[2]),
        "get_collection": lambda: full.get_collection(),
        "export_collection": lambda: full.export_collection(),
        "get_request_command": lambda: r.get_request_command(),
        "HTTPMETHOD": lambda: [(repr(m), str(m), int(m), m == m, m != MEMBERS[0], m == 0, m in MEMBERS)
                               for m in MEMBERS],
        "export refused": lambda: expect(ValueError, bad.export_collection),
        "ordering refused": lambda: expect(TypeError, lambda: M.GET < M.POST),
        "hash refused": lambda: expect(TypeError, lambda: hash(M.GET)),
        "HTTPMETHOD()": lambda: expect(TypeError, lambda: M(body)),
        "too many": lambda: expect(TypeError, lambda: Pemrik(url, headers, M.GET, body, body)),
        "missing": lambda: expect(TypeError, lambda: Pemrik(url)),
        "twice": lambda: expect(TypeError, lambda: Pemrik(url, headers, M.GET, url=url)),
        "unknown keyword": lambda: expect(TypeError, lambda: Pemrik(url, headers, M.GET, **{surrogate: 1})),
        "add_request binding": lambda: expect(TypeError, lambda: full.add_request(r, request=r)),
        "url int": lambda: expect(TypeError, lambda: Pemrik(5, headers, M.GET)),
        "url surrogate": lambda: expect(UnicodeEncodeError, lambda: Pemrik(surrogate, headers, M.GET)),
        "headers str": lambda: expect(TypeError, lambda: Pemrik(url, body, M.GET)),
        "headers dict": lambda: expect(TypeError, lambda: Pemrik(url, {}, M.GET)),
        "header of three": lambda: expect(ValueError, lambda: Pemrik(url, headers + [(url,) * 3], M.GET)),
        "header value surrogate": lambda: expect(
            UnicodeEncodeError, lambda: Pemrik(url, headers + [("a", surrogate)], M.GET)),
        "method str": lambda: expect(TypeError, lambda: Pemrik(url, headers, "GET", body)),
        "body int": lambda: expect(TypeError, lambda: Pemrik(url, headers, M.GET, 5)),
        "iteration raises": lambda: expect(KeyError, lambda: Pemrik(url, Seq(headers, KeyError(url)), M.GET)),
        "iteration raises TypeError": lambda: expect(
            TypeError, lambda: PemrikCollection(Seq(requests, TypeError(body)))),
        "TypeError with cause": lambda: expect(
            TypeError, lambda: Pemrik(url, CausedSeq(headers), M.GET)),
        "unprintable TypeError": lambda: expect(
            TypeError, lambda: Pemrik(url, Seq(headers, TypeError(Unprintable())), M.GET)),
        "collection item": lambda: expect(TypeError, lambda: PemrikCollection(requests + [url])),
        "collection str": lambda: expect(TypeError, lambda: PemrikCollection(url)),
        "add_request str": lambda: expect(TypeError, lambda: full.add_request(url)),
    }


class CausedSeq(Seq):
    def __getitem__(self, i):
        if i == len(self.items):
            caused_type_error()
        return self.items[i]


def exercise(calls, rounds):
    """Runs every workflow `rounds` times."""
    hook, sys.unraisablehook = sys.unraisablehook, lambda u: None
    try:
        for _ in range(rounds):
            for call in calls.values():
                call()
    finally:
        sys.unraisablehook = hook


WORKFLOWS = workflows(64)


def flatten(objects):
    """The objects, and the items of the lists and tuples among them, deeply."""
    for o in objects:
        yield o
        if isinstance(o, (list, tuple)):
            yield from flatten(o)


@pytest.mark.parametrize("name", WORKFLOWS)
def test_reference_counts_stay_put(name):
    call = WORKFLOWS[name]
    objects = list(flatten([Pemrik, PemrikCollection, M, *MEMBERS,
                            *[c.cell_contents for c in call.__closure__ or ()]]))

    def counts():
        gc.collect()
        return [sys.getrefcount(o) for o in objects]

    hook, sys.unraisablehook = sys.unraisablehook, lambda u: None
    try:
        for _ in range(20):
            call()
        before = counts()
        for _ in range(200):
            call()
        after = counts()
    finally:
        sys.unraisablehook = hook
    assert [(repr(o)[:40], b, a) for o, b, a in zip(objects, before, after) if a != b] == []


@pytest.mark.skipif(bool(os.environ.get("PEMRIK_SANITIZED")), reason="the sanitizer runtime keeps freed memory")
def test_memory_stays_flat():
    child = run_child(f"""
        import gc, sys
        sys.path.insert(0, {str(Path(__file__).parent)!r})
        import test_leaks

        def resident():
            gc.collect()  # the failing sequences hold their exceptions in cycles
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * 4096

        calls = test_leaks.workflows(50_000)
        test_leaks.exercise(calls, 30)
        before = resident()
        test_leaks.exercise(calls, 100)
        print(resident() - before)
    """)
    assert child.returncode == 0, child.stderr
    grown = int(child.stdout)
    # Losing one text per round in any workflow would add 5 MB or more.
    assert grown < 3_000_000, f"resident memory grew by {grown} bytes"
