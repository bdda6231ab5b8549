"""Threads on shared objects, GIL off where free-threaded: each result what one thread gives."""

import os
import sys
import sysconfig
import threading
from concurrent.futures import ThreadPoolExecutor

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import lines
from support.child import run_child
from support.oracles import curl_line

THREADS, GET = 8, HTTPMETHOD.GET


def stress(rounds):  # in the child, which imports it from this file
    base = [(f"h{i}", f"v{i}") for i in range(10)]
    fixed = Pemrik("https://h/fixed", base, HTTPMETHOD.PUT, "body")
    extra = Pemrik("https://h/extra", [], GET)
    fixed_line, extra_line = lines(fixed), lines(extra)
    headers, requests = list(base), [fixed] * 3  # half the threads change them while all read them
    shared, start = PemrikCollection(), threading.Barrier(THREADS)

    def work(k):  # a failed check raises, and the pool raises it again below
        start.wait()
        last = shared.export_collection()  # each export is the one before with items added
        for r in range(rounds):
            if k % 2:  # growing and shrinking, so that the lists move their items
                headers.extend([("x", "y")] * 32)
                requests.extend([extra] * 32)
            url = f"https://h/{k}/{r}"
            line, head = lines(Pemrik(url, headers, GET)), curl_line(url, base, "GET", None)
            assert line == head + ' -H "x: y"' * ((len(line) - len(head)) // 10), line
            made = lines(PemrikCollection(requests))
            assert made[:3] == [fixed_line] * 3 and set(made[3:]) <= {extra_line}, made
            shared.add_request(Pemrik(url, [], GET))
            text = shared.export_collection()
            assert text.startswith(last[:-2]) and text[len(last) - 2] in ",{", len(text)
            last = text
            assert lines(fixed) == fixed_line, "the shared request"
            if k % 2:
                del headers[10:], requests[3:]
        return k, last

    with ThreadPoolExecutor(THREADS) as pool:
        results = list(pool.map(work, range(THREADS)))
    final = shared.export_collection()
    urls = [line.split()[3] for line in lines(shared)]
    for k, last in results:  # the last export of each thread the final one cut after an item
        assert final.startswith(last[:-2]) and final[len(last) - 2] in ",]", ("final export", k)
        mine = [url for url in urls if url.startswith(f"https://h/{k}/")]
        assert mine == [f"https://h/{k}/{r}" for r in range(rounds)], k
    print(getattr(sys, "_is_gil_enabled", lambda: True)())


def test_threads_share_requests_collections_and_lists(monkeypatch):
    free = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    monkeypatch.delenv("PYTHON_GIL", raising=False)  # the module's declaration alone keeps it off
    rounds = os.environ.get("PEMRIK_THREAD_ROUNDS", 400 if free else 60)  # the tsan task asks more
    child = run_child(f"from reliability.test_threads import stress; stress({rounds})", 3600)
    assert (child.returncode, child.stdout.strip()) == (0, str(not free)), child.stderr[-3000:]
