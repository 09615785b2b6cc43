"""Helpers shared by the PyOvAttribute suites. Other suites import this: keep it small and
keep what is here stable."""

import sys
import unittest

import PyOvAttribute


def null_attribute_objects():
    """One attribute object without a value of each attribute type, made by __new__ alone."""
    types = (PyOvAttribute.Attribute, PyOvAttribute.DataAttribute, PyOvAttribute.IntAttribute,
             PyOvAttribute.FloatAttribute, PyOvAttribute.DoubleAttribute,
             PyOvAttribute.StringAttribute, PyOvAttribute.GroupAttribute,
             PyOvAttribute.NullAttribute)
    return [t.__new__(t) for t in types]


class RefcountTestCase(unittest.TestCase):
    """A TestCase that checks reference counts around a call."""

    def callKeepingRefcounts(self, objects, fn, *args, **kwargs):
        """Calls fn(*args, **kwargs) and asserts that the reference count of every object of
        `objects` is the same afterwards. Returns (result, exception): one of them is None."""
        before = [sys.getrefcount(o) for o in objects]
        result = error = None
        try:
            result = fn(*args, **kwargs)
        except Exception as e:  # pylint: disable=broad-except
            error = e
        # The traceback of a caught exception keeps this frame, and with it the arguments.
        sys.exc_clear()
        after = [sys.getrefcount(o) for o in objects]
        self.assertEqual(before, after, "reference counts changed: %r -> %r" % (before, after))
        return result, error
