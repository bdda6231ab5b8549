"""Threads started together on shared objects, in a child interpreter (on a free-threaded build
with the GIL off by the module's own declaration, PYTHON_GIL unset): no crash, no borrow error,
and every result what one thread would give."""

import os
import sysconfig

from support.child import run_child

STRESS = """
import sys, threading
from concurrent.futures import ThreadPoolExecutor
from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.oracles import curl_line

THREADS, ROUNDS, GET = 8, {rounds}, HTTPMETHOD.GET
base = [(f"h{{i}}", f"v{{i}}") for i in range(10)]
fixed = Pemrik("https://h/fixed", base, HTTPMETHOD.PUT, "body")
fixed_line, extra = fixed.get_request_command(), Pemrik("https://h/extra", [], GET)
headers, requests = list(base), [fixed] * 3  # half the threads change them while all read them
shared, start = PemrikCollection(), threading.Barrier(THREADS)

def work(k):  # a failed check raises, and the pool raises it again below
    start.wait()
    last = shared.export_collection()  # each export is the one before with items added
    for r in range(ROUNDS):
        if k % 2:  # growing and shrinking, so that the lists move their items
            headers.extend([("x", "y")] * 32), requests.extend([extra] * 32)
        url = f"https://h/{{k}}/{{r}}"
        line, head = Pemrik(url, headers, GET).get_request_command(), curl_line(url, base, "GET", None)
        assert line == head + ' -H "x: y"' * ((len(line) - len(head)) // 10), line
        made = [r.get_request_command() for r in PemrikCollection(requests).get_collection()]
        assert made[:3] == [fixed_line] * 3 and set(made[3:]) <= {{extra.get_request_command()}}, made
        shared.add_request(Pemrik(url, [], GET))
        text = shared.export_collection()
        assert text.startswith(last[:-2]) and text[len(last) - 2] in ",{{", len(text)
        last = text
        assert fixed.get_request_command() == fixed_line, "the shared request"
        if k % 2:
            del headers[10:], requests[3:]
    return k, last

with ThreadPoolExecutor(THREADS) as pool:
    results = list(pool.map(work, range(THREADS)))
final = shared.export_collection()
urls = [r.get_request_command().split()[3] for r in shared.get_collection()]
assert len(urls) == THREADS * ROUNDS, len(urls)
for k, last in results:  # the last export of each thread the final one cut after an item
    assert final.startswith(last[:-2]) and final[len(last) - 2] in ",]", ("final export", k)
    assert [u for u in urls if u.startswith(f"https://h/{{k}}/")] == [f"https://h/{{k}}/{{r}}" for r in range(ROUNDS)], k
print(getattr(sys, "_is_gil_enabled", lambda: True)())
"""


def test_threads_share_requests_collections_and_lists(monkeypatch):
    free = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    monkeypatch.delenv("PYTHON_GIL", raising=False)  # the module's declaration alone keeps it off
    rounds = os.environ.get("PEMRIK_THREAD_ROUNDS", 400 if free else 60)  # the tsan task asks more
    child = run_child(STRESS.format(rounds=rounds), timeout=3600)
    assert (child.returncode, child.stdout.strip()) == (0, str(not free)), child.stderr[-3000:]
