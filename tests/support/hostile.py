"""Hostile callers: sequences that lie, raise or call back, and a caller that lets go of the
callable and of every argument from inside a callback the callee makes: functools.partial
lends the callable and its stored arguments to the call instead of holding references, and
emptied meanwhile it leaves a callee that kept a pointer into an argument reading freed memory.
"""

import functools
import gc

KINDS = ("__len__", "__iter__", "__next__", "__getitem__", "finalizer")


class Seq:
    """__len__ returns or raises `length` (the item count by default), an item that is an
    exception is raised in its place, hook(callback, index) runs first in each callback and
    `read` records the positions read."""

    def __init__(self, items, length=None, hook=lambda callback, i: None):
        self.items, self.length, self.hook, self.read = list(items), length, hook, []

    def __len__(self):
        self.hook("__len__", None)
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, i):
        self.read.append(i)
        self.hook("__getitem__", i)
        return _given(self.items[i])


class IterSeq(Seq):
    """The same, read through an iterator that holds the items but not the sequence."""

    def __iter__(self):
        hook = self.hook
        hook("__iter__", None)
        return (hook("__next__", i) or _given(x) for i, x in enumerate(self.items))


def _given(item):
    if isinstance(item, BaseException):
        raise item
    return item


def hostile(base, raising=(), **own):
    """A subclass of base whose methods named in `raising` raise if anything calls them."""
    return type("Hostile", (base,), {name: lambda *a, **k: 1 / 0 for name in raising} | own)


class _Finalized:
    """Garbage in a reference cycle: only the collector frees it, and runs `hook` then."""

    def __init__(self, hook):
        self.hook, self.me = hook, self

    def __del__(self):
        self.hook()


def call_dropping(func, make_args, kind, observe):
    """(observe(func(*make_args(wrap))) or (exception type, text), whether the caller let go),
    the caller letting go of func and its arguments from callback `kind` of the sequences that
    wrap(items) makes (on the second item for item callbacks; never for kind None). make_args
    must make fresh objects that nothing else refers to."""

    def hook(callback, i):
        if kind == "finalizer" and callback == "__getitem__":
            gc.enable()
            [[] for _ in range(8)]  # new containers start a collection at threshold 1
        elif callback == kind and i in (None, 1):
            drop()

    drop = lambda: held.__setstate__((print, (), {}, None))  # noqa: E731
    seq = IterSeq if kind in ("__iter__", "__next__") else Seq
    held = functools.partial(func, *make_args(lambda items: seq(items, None, hook)))
    threshold, enabled = gc.get_threshold(), gc.isenabled()
    gc.collect()
    try:
        if kind == "finalizer":
            gc.disable()  # until a callback lets the collector run
            gc.set_threshold(1)
            _Finalized(drop)
        result = observe(held())
    except Exception as e:
        result = type(e), str(e)
    finally:
        gc.set_threshold(*threshold)
        (gc.enable if enabled else gc.disable)()
    return result, held.func is not func
