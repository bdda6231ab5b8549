"""Hostile callers: a call whose caller lets go of the callable and of every
argument from inside a callback the callee makes.

A caller written in C may lend its references to the callee instead of
holding one for the call: functools.partial passes the positional arguments
it stores, and the callable itself, that way. The Holder below is such a
partial that can be emptied at any moment; a trap is a sequence that empties
it from one of the callbacks a callee makes while reading a sequence
(`__len__`, `__iter__`, `__next__`, `__getitem__`) or from a finalizer that
the garbage collector runs meanwhile. A callee that keeps a pointer into an
argument across such a callback reads freed memory: run these calls in a
child interpreter with texts of several MB (freed memory goes back to the
system) or with the interpreter's debug allocator (freed memory is
overwritten), and compare the result with that of the same call made with
untouched arguments.
"""

import functools
import gc

KINDS = ("__len__", "__iter__", "__next__", "__getitem__", "finalizer")


def _nothing(*args, **kwargs):
    return None


class Holder:
    """func and its positional arguments, held only by a partial; drop() lets go of all of them."""

    def __init__(self, func, args):
        self._partial = functools.partial(func, *args)
        self.dropped = False

    def drop(self):
        if not self.dropped:
            self.dropped = True
            self._partial.__setstate__((_nothing, (), {}, None))

    def __call__(self):
        return self._partial()


class _Trap:
    """A sequence of `items` read through __len__ and __getitem__; `hook` runs
    in the callback `kind`, on the second item for item callbacks (so that the
    first one has been read already)."""

    def __init__(self, items, kind, hook):
        self._items, self._kind, self._hook = list(items), kind, hook

    def _fire(self, kind, index=None):
        if kind == self._kind and (index is None or index == min(1, len(self._items) - 1)):
            self._hook()

    def __len__(self):
        self._fire("__len__")
        return len(self._items)

    def __getitem__(self, i):
        self._fire("__getitem__", i)
        if self._kind == "finalizer":
            _let_the_collector_run()
        return self._items[i]


class _IterTrap(_Trap):
    """The same, read through its own iterator."""

    def __iter__(self):
        self._fire("__iter__")
        return _Iterator(self._items, self._fire)


class _Iterator:
    def __init__(self, items, fire):  # holds the items, not the trap
        self._items, self._fire, self._i = items, fire, 0

    def __iter__(self):
        return self

    def __next__(self):
        if self._i >= len(self._items):
            raise StopIteration
        self._fire("__next__", self._i)
        self._i += 1
        return self._items[self._i - 1]


class _Finalized:
    """Garbage in a reference cycle: only the collector frees it, and runs `hook` then."""

    def __init__(self, hook):
        self.hook, self.me = hook, self

    def __del__(self):
        self.hook()


def _let_the_collector_run():
    gc.enable()
    [[] for _ in range(8)]  # new containers start a collection at threshold 1


def trap(kind, hook):
    """A function wrapping items in a sequence that calls hook from callback `kind`."""
    return lambda items: (_IterTrap if kind in ("__iter__", "__next__") else _Trap)(
        items, kind, hook
    )


def call_dropping(func, make_args, kind, observe):
    """observe(func(*make_args(wrap))) with the call's references lent by a
    Holder that lets go of them from callback `kind` of the sequences that
    wrap(items) makes. Returns (observed result or (exception type, message),
    whether the holder let go). make_args must make fresh objects that nothing
    else refers to."""
    holder_cell = []
    hook = lambda: holder_cell[0].drop()  # noqa: E731
    holder = Holder(func, make_args(trap(kind, hook)))
    holder_cell.append(holder)
    threshold, enabled = gc.get_threshold(), gc.isenabled()
    gc.collect()
    try:
        if kind == "finalizer":
            gc.disable()  # until the callback lets the collector run
            gc.set_threshold(1)
            _Finalized(hook)
        result = _outcome(holder, observe)
    finally:
        gc.set_threshold(*threshold)
        (gc.enable if enabled else gc.disable)()
    dropped = holder.dropped
    holder_cell.clear()
    return result, dropped


def call_plainly(func, make_args, observe):
    """The same call with untouched arguments: the expected result."""
    return _outcome(lambda: func(*make_args(trap(None, _nothing))), observe)


def _outcome(call, observe):
    try:
        return observe(call())
    except Exception as e:
        return type(e), str(e)


class Seq:
    """A sequence of the script's own: __len__ returns or raises `length` (the
    item count by default), an item that is an exception is raised in its
    place, `step` runs before each item, `read` records the positions read."""

    def __init__(self, items, length=None, step=None):
        self.items, self.length, self.step, self.read = list(items), length, step, []

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return len(self.items) if self.length is None else self.length

    def __getitem__(self, i):
        self.read.append(i)
        item = self.items[i]
        if self.step:
            self.step()
        if isinstance(item, BaseException):
            raise item
        return item


class IterSeq(Seq):
    """The same, read through a generator."""

    def __iter__(self):
        return (self[i] for i in range(len(self.items)))


def hostile(base, raising=(), **own):
    """A subclass of base whose methods named in `raising` raise if anything calls them."""
    return type("Hostile", (base,), {name: lambda *a, **k: 1 / 0 for name in raising} | own)
