"""Timing by interleaved rounds, and the process memory as the kernel sees it."""

import ctypes
import gc
import os
import resource
import statistics
import time
import timeit

# CPU time of this thread (user and system, page faults included): on a
# machine shared with other work it does not count the time that other
# processes hold the core, as wall-clock time would.
clock = time.thread_time if hasattr(time, "thread_time") else time.perf_counter


class Timed:
    """One contender: a callable timed once per sample, or a statement run in batches.

    With prepare, each sample first makes prepare()'s result outside the timer
    (fresh objects for a first call) and times call(result). A sample is the
    call's time divided by per (the calls it makes). A statement's batch runs
    `number` calls; its time divided by `number` is one sample.
    """

    def __init__(self, name, call=None, prepare=None, per=1, stmt=None, namespace=None, limit=None):
        self.name = name
        self.call = call
        self.prepare = prepare
        self.per = per
        self.timer = timeit.Timer(stmt, timer=clock, globals=namespace) if stmt else None
        self.number = 1
        self.limit = limit  # most samples taken, for the slowest contenders
        self.samples = []
        self.faults = []  # minor page faults per call

    def calibrate(self, batch_seconds):
        if self.timer is None:
            return
        number = 1
        while True:
            if self.timer.timeit(number) >= batch_seconds / 4 or number >= 1 << 24:
                break
            number *= 4
        per_call = self.timer.timeit(number) / number
        self.number = max(1, int(batch_seconds / per_call))

    def sample(self, keep=False):
        """Takes one sample; with keep, returns the call's result."""
        if self.timer is not None:
            gc.collect()
            # timeit switches the collector off for the batch itself.
            self.samples.append(self.timer.timeit(self.number) / self.number)
            return None
        args = (self.prepare(),) if self.prepare else ()
        gc.collect()
        gc.disable()
        try:
            faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
            start = clock()
            result = self.call(*args)
            elapsed = clock() - start
            self.faults.append(resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults)
        finally:
            gc.enable()
        self.samples.append(elapsed / self.per)
        if keep:
            return result
        del result
        return None

    @property
    def median(self):
        return statistics.median(self.samples)


def run_rounds(contenders, rounds, batch_seconds=None):
    """Samples every contender once per round, the starting one rotating."""
    if batch_seconds:
        for c in contenders:
            c.calibrate(batch_seconds)
    order = list(contenders)
    for r in range(rounds):
        k = r % len(order)
        for c in order[k:] + order[:k]:
            if c.limit is None or len(c.samples) < c.limit:
                c.sample()
    return {c.name: c for c in contenders}


def medians(timed):
    return {name: c.median for name, c in timed.items()}


# ---- memory ----------------------------------------------------------------

PAGE = os.sysconf("SC_PAGE_SIZE") if hasattr(os, "sysconf") else 4096

try:
    _libc = ctypes.CDLL(None)
    _malloc_trim = _libc.malloc_trim
    _malloc_trim.argtypes = [ctypes.c_size_t]
except (OSError, AttributeError):
    _libc, _malloc_trim = None, None


class _Mallinfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in (
            "arena",
            "ordblks",
            "smblks",
            "hblks",
            "hblkhd",
            "usmblks",
            "fsmblks",
            "uordblks",
            "fordblks",
            "keepcost",
        )
    ]


try:
    _mallinfo2 = _libc.mallinfo2
    _mallinfo2.restype = _Mallinfo2
except AttributeError:
    _mallinfo2 = None


def settle():
    """Frees what can be freed and hands unused heap pages back to the kernel."""
    gc.collect()
    if _malloc_trim is not None:
        _malloc_trim(0)


def rss():
    """Resident set size in bytes, or None where /proc is missing."""
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * PAGE
    except OSError:
        return None


def malloc_in_use():
    """Bytes that the C allocator has handed out (heap and mmap), or None."""
    if _mallinfo2 is None:
        return None
    info = _mallinfo2()
    return info.uordblks + info.hblkhd


def reset_peak():
    """Makes the kernel's high-water mark of the RSS start again from now."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def peak_rss():
    """High-water mark of the RSS in bytes (VmHWM), or None."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return None


def peak_extra(call):
    """(result, bytes by which the RSS peak during call exceeded the RSS before it).

    The extra is None when the kernel does not let the peak be reset.
    """
    settle()
    gc.disable()
    try:
        before = rss()
        can_reset = reset_peak() and before is not None
        result = call()
        peak = peak_rss()
    finally:
        gc.enable()
    if not can_reset or peak is None:
        return result, None
    return result, peak - before
