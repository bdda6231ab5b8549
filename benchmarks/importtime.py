"""W7: the self time of `import pemrik` against `import _json`, the standard
library's own C accelerator, as `python -X importtime` reports it.

Each sample is a fresh interpreter importing one module; the two take turns
(the first of each round rotating), and the medians are compared.
"""

import re
import statistics
import subprocess
import sys

CONTENDERS = ("pemrik", "_json")


def self_time(module):
    """Microseconds of the module's own import in a fresh interpreter."""
    done = subprocess.run(
        [sys.executable, "-X", "importtime", "-c", f"import {module}"],
        capture_output=True,
        text=True,
        check=True,
    )
    line = re.search(rf"^import time:\s+(\d+) \|\s+\d+ \| {re.escape(module)}$", done.stderr, re.M)
    if line is None:
        raise RuntimeError(f"-X importtime reported no import of {module}:\n{done.stderr}")
    return int(line.group(1)) * 1e-6


def measure(rounds):
    samples = {name: [] for name in CONTENDERS}
    for r in range(rounds):
        k = r % len(CONTENDERS)
        for name in CONTENDERS[k:] + CONTENDERS[:k]:
            samples[name].append(self_time(name))
    return {name: statistics.median(values) for name, values in samples.items()}


if __name__ == "__main__":
    times = measure(int(sys.argv[1]) if len(sys.argv) > 1 else 41)
    print(
        f"pemrik {times['pemrik'] * 1e6:.0f} µs, _json {times['_json'] * 1e6:.0f} µs, "
        f"ratio {times['pemrik'] / times['_json']:.2f}x"
    )
