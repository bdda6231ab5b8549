"""Threads hammering one shared collection and shared requests."""

import json
import sys
import threading
from collections import Counter, UserList
from concurrent.futures import ThreadPoolExecutor

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS

THREADS, ROUNDS, METHOD = 8, 150, [getattr(HTTPMETHOD, name) for name in METHODS]
URLS = [f"https://h{i}/p" for i in range(THREADS)]
SHARED = [Pemrik(u, [("T", str(i))], METHOD[i], "b" * i) for i, u in enumerate(URLS)]
commands = lambda rs: [r.get_request_command() for r in rs]  # noqa: E731
LINES = commands(SHARED)


def test_threads_hammering_one_collection():
    collection, barrier = PemrikCollection(SHARED[:1]), threading.Barrier(THREADS)

    def work(t):
        added, problems = [], []
        barrier.wait()
        for i in range(ROUNDS):
            k = (t + i) % THREADS
            try:
                collection.add_request(SHARED[k])
                added.append(LINES[k])
            except RuntimeError as e:  # a borrow conflict is the only allowed refusal
                problems += [] if str(e) == "Already borrowed" else [repr(e)]
            # script sequences run Python code, so threads switch inside these calls
            built = Pemrik(f"https://h/{t}", UserList([("A", str(i))]), METHOD[i % 9])
            copied = commands(PemrikCollection(UserList([SHARED[k], built])).get_collection())
            expected = [LINES[k], f'curl -X {METHODS[i % 9]} https://h/{t} -H "A: {i}"']
            problems += [] if copied == expected else [copied]
            if i % 10 == 0:  # the collection holds only what was added
                items = json.loads(collection.export_collection())["item"]
                problems += [] if {item["name"] for item in items} <= set(URLS) else [items]
        return added, problems

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        with ThreadPoolExecutor(THREADS) as pool:
            outcomes = list(pool.map(work, range(THREADS)))
    finally:
        sys.setswitchinterval(interval)
    assert [problems for _, problems in outcomes] == [[]] * THREADS
    added = [line for o in outcomes for line in o[0]]
    assert Counter(commands(collection.get_collection())) == Counter([LINES[0], *added])
    assert len(json.loads(collection.export_collection())["item"]) == 1 + len(added)
