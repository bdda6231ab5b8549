"""Threads started together on shared objects, in a child interpreter (on a free-threaded build
with the GIL off): no crash, no borrow error, and every result what one thread would give."""

import os
import sysconfig

from support.child import run_child

STRESS = """
import sys, threading
from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.oracles import curl_line

THREADS, ROUNDS, GET = 8, {rounds}, HTTPMETHOD.GET
base = [(f"h{{i}}", f"v{{i}}") for i in range(10)]
fixed = Pemrik("https://h/fixed", base, HTTPMETHOD.PUT, "body")
fixed_line, extra = fixed.get_request_command(), Pemrik("https://h/extra", [], GET)
headers, requests = list(base), [fixed] * 3  # half the threads change them while all read them
shared, start, failed = PemrikCollection(), threading.Barrier(THREADS), []

def work(k):
    start.wait()
    last = shared.export_collection()  # each export is the one before with items added
    for r in range(ROUNDS):
        if k % 2:  # growing and shrinking, so that the lists move their items
            headers.extend([("x", "y")] * 32), requests.extend([extra] * 32)
        url = f"https://h/{{k}}/{{r}}"
        line, head = Pemrik(url, headers, GET).get_request_command(), curl_line(url, base, "GET", None)
        if line != head + ' -H "x: y"' * ((len(line) - len(head)) // 10):
            failed.append(("headers", line))
        made = [r.get_request_command() for r in PemrikCollection(requests).get_collection()]
        if made[:3] != [fixed_line] * 3 or set(made[3:]) - {{extra.get_request_command()}}:
            failed.append(("collection", made))
        shared.add_request(Pemrik(url, [], GET))
        text = shared.export_collection()
        if not (text.startswith(last[:-2]) and text[len(last) - 2] in ",{{"):
            failed.append(("export", len(text)))
        last = text
        if fixed.get_request_command() != fixed_line:
            failed.append(("shared request", k))
        if k % 2:
            del headers[10:], requests[3:]
    return k, last

def run(k):
    try:
        results.append(work(k))
    except BaseException as e:
        failed.append((type(e).__name__, str(e)))

results, threads = [], [threading.Thread(target=run, args=(k,)) for k in range(THREADS)]
[t.start() for t in threads]
[t.join() for t in threads]
final = shared.export_collection()
urls = [r.get_request_command().split()[3] for r in shared.get_collection()]
for k, last in results:  # the last export of each thread the final one cut after an item
    if not (final.startswith(last[:-2]) and final[len(last) - 2] in ",]"):
        failed.append(("final export", k))
    if [u for u in urls if u.startswith(f"https://h/{{k}}/")] != [f"https://h/{{k}}/{{r}}" for r in range(ROUNDS)]:
        failed.append(("order or loss", k))
print(len(urls) == THREADS * ROUNDS, getattr(sys, "_is_gil_enabled", lambda: True)(), failed[:5])
"""


def test_threads_share_requests_collections_and_lists():
    free = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    env = {"PYTHON_GIL": "0"} if free else {}
    rounds = os.environ.get("PEMRIK_THREAD_ROUNDS", 400 if free else 60)  # the tsan task asks more
    child = run_child(STRESS.format(rounds=rounds), env=env, timeout=3600)
    assert child.returncode == 0, child.stderr[-3000:]
    assert child.stdout.strip().split(maxsplit=2) == ["True", str(not free), "[]"], child.stdout[
        -3000:
    ]
