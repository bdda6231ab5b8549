"""Threads hammering one shared collection and shared requests."""

import json
import sys
import threading
from collections import Counter, UserList

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection
from support.cases import METHODS as NAMES

THREADS, ROUNDS = 8, 150
URLS = [f"https://h{i}/p" for i in range(THREADS)]


def test_threads_hammering_one_collection():
    shared = [
        Pemrik(URLS[i], [("T", str(i))], getattr(HTTPMETHOD, NAMES[i]), "b" * i)
        for i in range(THREADS)
    ]
    lines = [r.get_request_command() for r in shared]
    collection = PemrikCollection(shared[:1])
    barrier = threading.Barrier(THREADS)
    outcomes = [None] * THREADS

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
            built = Pemrik(
                f"https://h/{t}", UserList([("A", str(i))]), getattr(HTTPMETHOD, NAMES[i % 9])
            )
            copied = PemrikCollection(UserList(shared[:3])).get_collection()
            if [r.get_request_command() for r in copied + [shared[k]]] != lines[:3] + [
                lines[k]
            ] or built.get_request_command() != f'curl -X {NAMES[i % 9]} https://h/{t} -H "A: {i}"':
                problems.append("wrong command")
            if i % 10 == 0:  # the collection only grows and holds only what was added
                stored = len(collection.get_collection())
                items = json.loads(collection.export_collection())["item"]
                if not seen <= stored <= len(items) or {item["name"] for item in items} - set(URLS):
                    problems.append(("counts", seen, stored, len(items)))
                seen = len(items)
        outcomes[t] = added, problems

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    try:
        threads = [threading.Thread(target=work, args=(t,)) for t in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert all(outcomes), "a thread died"
    assert [problems for _, problems in outcomes] == [[]] * THREADS
    added = [line for o in outcomes for line in o[0]]
    assert Counter(r.get_request_command() for r in collection.get_collection()) == Counter(
        [lines[0]] + added
    )
    assert len(json.loads(collection.export_collection())["item"]) == 1 + len(added)
