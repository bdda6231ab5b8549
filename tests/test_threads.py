"""Threads hammering one shared collection and shared requests."""

import json
import sys
import threading
import time
from collections import Counter

from pemrik import HTTPMETHOD, Pemrik, PemrikCollection

THREADS = 8
ROUNDS = 150
NAMES = ["GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT"]


class Yielding:
    """A sequence whose every item lets other threads run first."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        time.sleep(0)
        return self.items[i]


def test_threads_hammering_one_collection():
    shared = [Pemrik(f"https://h{i}/p", [("T", str(i))], getattr(HTTPMETHOD, NAMES[i % 9]), "b" * i)
              for i in range(THREADS)]
    lines = [r.get_request_command() for r in shared]
    urls = {f"https://h{i}/p" for i in range(THREADS)}
    collection = PemrikCollection(shared[:1])
    barrier = threading.Barrier(THREADS)
    outcomes = [None] * THREADS

    def work(t):
        added, refused, operations = [], 0, 0
        problems, seen = [], 1
        barrier.wait()
        for i in range(ROUNDS):
            request = shared[(t + i) % THREADS]
            try:
                collection.add_request(request)
                added.append((t + i) % THREADS)
            except RuntimeError as e:  # a borrow conflict is the only allowed refusal
                refused += 1
                if str(e) != "Already borrowed":
                    problems.append(repr(e))
            if request.get_request_command() != lines[(t + i) % THREADS]:
                problems.append("command changed")
            member = getattr(HTTPMETHOD, NAMES[i % 9])
            if not (member == getattr(HTTPMETHOD, NAMES[i % 9]) and int(member) == i % 9):
                problems.append("member")
            built = Pemrik(f"https://h/{t}", Yielding([("A", str(i)), ("B", "c")]), member)
            copied = PemrikCollection(Yielding(shared[:3])).get_collection()
            if [r.get_request_command() for r in copied] != lines[:3] or \
                    built.get_request_command() != f'curl -X {NAMES[i % 9]} https://h/{t} -H "A: {i}" -H "B: c"':
                problems.append("constructed wrong")
            operations += 11  # module calls in this round
            if i % 10 == 0:
                stored = collection.get_collection()
                items = json.loads(collection.export_collection())["item"]
                operations += 2
                # the collection only grows, and holds only what was added
                if not seen <= len(stored) <= len(items) or {item["name"] for item in items} - urls:
                    problems.append(("counts", seen, len(stored), len(items)))
                seen = len(items)
        outcomes[t] = added, refused, operations, problems

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
    assert [o[3] for o in outcomes] == [[]] * THREADS
    added = [lines[i] for o in outcomes for i in o[0]]
    assert len(added) + sum(o[1] for o in outcomes) == THREADS * ROUNDS
    # exactly the successful adds are stored, each once
    assert Counter(r.get_request_command() for r in collection.get_collection()) == \
        Counter([lines[0]] + added)
    assert len(json.loads(collection.export_collection())["item"]) == 1 + len(added)
    print(f"threads: {THREADS} x {sum(o[2] for o in outcomes) // THREADS} operations")
