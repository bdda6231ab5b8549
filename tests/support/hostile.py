"""Hostile sequences: they lie, raise or call back."""

import weakref


class Seq:
    """__len__ returns or raises `length` (default: the item count), an exception item is raised,
    and hook(callback, index) runs first in each callback."""

    def __init__(self, items, length=None, hook=lambda callback, i: None):
        self.items, self.length, self.hook = list(items), length, hook

    def __len__(self):
        length = len(self.items) if self.length is None else self.length
        return self.hook("__len__", None) or _given(length)

    def __getitem__(self, i):
        return self.hook("__getitem__", i) or _given(self.items[i])


class IterSeq(Seq):  # the same, read through an iterator that holds the items, not the sequence
    def __iter__(self):  # hook("let go", None) runs once the iterator is let go of
        (hook := self.hook)("__iter__", None)
        items = (hook("__next__", i) or _given(x) for i, x in enumerate(self.items))
        weakref.finalize(items, hook, "let go", None)
        return items


def _given(item):
    if isinstance(item, BaseException):
        raise item
    return item
