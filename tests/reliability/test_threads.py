"""Threads hammering one shared collection and shared requests."""

import json
import sys
import threading
from collections import Counter, UserList
from concurrent.futures import ThreadPoolExecutor

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS

THREADS, ROUNDS = 8, 150
URLS = [f"https://h{i}/p" for i in range(THREADS)]


def test_threads_hammering_one_collection():
    methods = [getattr(HTTPMETHOD, name) for name in METHODS]
    shared = [Pemrik(u, [("T", str(i))], methods[i], "b" * i) for i, u in enumerate(URLS)]
    lines = [r.get_request_command() for r in shared]
    collection, barrier = PemrikCollection(shared[:1]), threading.Barrier(THREADS)

    def work(t):
        added, problems, seen = [], [], 1
        barrier.wait()
        for i in range(ROUNDS):
            k = (t + i) % THREADS
            try:
                collection.add_request(shared[k])
                added.append(lines[k])
            except RuntimeError as e:  # a borrow conflict is the only allowed refusal
                problems += [] if str(e) == "Already borrowed" else [repr(e)]
            # script sequences run Python code, so threads switch inside these calls
            built = Pemrik(f"https://h/{t}", UserList([("A", str(i))]), methods[i % 9])
            copied = PemrikCollection(UserList(shared[:3])).get_collection() + [shared[k], built]
            got = [r.get_request_command() for r in copied]
            if got != lines[:3] + [lines[k], f'curl -X {METHODS[i % 9]} https://h/{t} -H "A: {i}"']:
                problems.append(got)
            if i % 10 == 0:  # the collection only grows and holds only what was added
                stored = len(collection.get_collection())
                items = json.loads(collection.export_collection())["item"]
                if not seen <= stored <= len(items) or {item["name"] for item in items} - set(URLS):
                    problems.append(("counts", seen, stored, len(items)))
                seen = len(items)
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
    stored = Counter(r.get_request_command() for r in collection.get_collection())
    assert stored == Counter([lines[0]] + added)
    assert len(json.loads(collection.export_collection())["item"]) == 1 + len(added)
