"""PyOvAttribute.ConstVector: indexing, slicing, count and index, rich comparison on its three
paths, repr and str, toOvAttr, the refusing initialiser, the empty vector made by
PyConstVectorFromDataAttribute, and the lifetime and references of vectors."""

import gc
import os
import struct
import subprocess
import sys
import unittest

import PyOvAttribute
from PyOvAttribute import (ConstVector, DoubleAttribute, FloatAttribute, GroupBuilder,
                           IntAttribute, NullAttribute, StringAttribute)

try:
    import _ovattr_testext as testext
except ImportError:  # the test-only module is optional for this suite
    testext = None

requires_testext = unittest.skipUnless(testext, "needs the test-only extension module")

NAN = float("nan")


def f32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def empty_vector():
    """The vector PyConstVectorFromDataAttribute makes for an attribute of no data kind."""
    return testext.const_vector(NullAttribute(), 0.0)


def kind_vectors():
    """(vector, the same values as a list) of every kind."""
    return [
        (IntAttribute([5, -6, 7, 8, 7, -(2 ** 31)]).getData(), [5, -6, 7, 8, 7, -(2 ** 31)]),
        (FloatAttribute([0.5, 0.1, -2.0, 0.5]).getData(), [0.5, f32(0.1), -2.0, 0.5]),
        (DoubleAttribute([0.1, 1e16, -0.0, 0.1, 2.5]).getData(), [0.1, 1e16, -0.0, 0.1, 2.5]),
        (StringAttribute(["a", "bb", "", "a", "c"]).getData(), ["a", "bb", "", "a", "c"]),
    ]


class IndexingTest(unittest.TestCase):

    def test_length_and_items_from_both_ends(self):
        for v, expected in kind_vectors():
            self.assertEqual(len(v), len(expected))
            for i in range(-len(expected), len(expected)):
                self.assertEqual(v[i], expected[i])
                self.assertIs(type(v[i]), type(expected[i]))

    def test_out_of_range(self):
        for v, expected in kind_vectors():
            for i in (len(expected), -len(expected) - 1, sys.maxint, -sys.maxint - 1):
                with self.assertRaises(IndexError) as caught:
                    v[i]  # pylint: disable=pointless-statement
                self.assertEqual(str(caught.exception), "index out of range")

    def test_iteration_and_containment_use_the_items(self):
        for v, expected in kind_vectors():
            self.assertEqual(list(v), expected)
            self.assertIn(expected[-1], v)
        self.assertNotIn(9, IntAttribute([1]).getData())
        self.assertIn(1.0, IntAttribute([1]).getData())

    def test_index_types(self):
        v = IntAttribute([1, 2, 3]).getData()
        self.assertEqual(v[1L], 2)
        self.assertEqual(v[True], 2)
        self.assertRaises(TypeError, v.__getitem__, 1.0)
        self.assertRaises(TypeError, v.__getitem__, "1")

    def test_values_of_every_sample_shape(self):
        v = DoubleAttribute({0: [1, 2, 3, 4, 5, 6], 1: [7, 8, 9, 10, 11, 12]}, 3).getData()
        self.assertEqual(list(v), [1.0, 2.0, 3.0, 4.0, 5.0, 6.0])
        v = IntAttribute({0: [], 1: []}).getNearestSample(1)
        self.assertEqual(len(v), 0)


class SliceTest(unittest.TestCase):

    BOUNDS = range(-8, 9) + [sys.maxint, -sys.maxint - 1, 2 ** 80, -(2 ** 80)]

    def test_every_slice_matches_list_slicing(self):
        for v, expected in kind_vectors():
            for lo in self.BOUNDS:
                for hi in self.BOUNDS:
                    s = v[lo:hi]
                    self.assertIs(type(s), ConstVector)
                    self.assertEqual(list(s), expected[lo:hi], (lo, hi))
                    self.assertEqual(len(s), len(expected[lo:hi]))
                self.assertEqual(list(v[lo:]), expected[lo:])
                self.assertEqual(list(v[:lo]), expected[:lo])
            self.assertEqual(list(v[:]), expected)

    def test_none_bounds_are_the_interpreter_s_business(self):
        # Without a mapping slot, an explicit None bound becomes a slice object, which the
        # interpreter refuses before the vector is asked.
        self.assertRaises(TypeError, lambda: IntAttribute([1]).getData()[None:1])

    def test_slices_of_slices(self):
        v, expected = kind_vectors()[0]
        for lo in range(-4, 5):
            for hi in range(-4, 5):
                first = v[lo:hi]
                part = expected[lo:hi]
                for lo2 in range(-3, 4):
                    for hi2 in (-1, 0, 1, 2, 5):
                        self.assertEqual(list(first[lo2:hi2]), part[lo2:hi2])
                    self.assertEqual(list(first[lo2:]), part[lo2:])

    def test_empty_and_nested_slices(self):
        v = IntAttribute([1, 2, 3, 4]).getData()
        self.assertEqual(repr(v[5:2]), "[]")
        self.assertEqual(repr(v[10:20]), "[]")
        self.assertEqual(v[:], v)
        self.assertEqual(v[1:][1:][0], v[2])
        self.assertEqual(len(v[1:3][:]), 2)
        self.assertEqual(v[1:3][-1], v[2])

    def test_step_is_refused_by_the_interpreter(self):
        v = IntAttribute([1, 2, 3]).getData()
        self.assertRaises(TypeError, lambda: v[::2])

    def test_slice_of_a_slice_reads_the_shared_sample(self):
        a = StringAttribute(["s%d" % i for i in range(100)])
        s = a.getData()[10:90][5:-5][1:3]
        del a
        gc.collect()
        self.assertEqual(list(s), ["s16", "s17"])


class CountIndexTest(unittest.TestCase):

    def test_count_and_index(self):
        v = IntAttribute([1, 2, 3]).getData()
        self.assertEqual(v.count(2), 1)
        self.assertEqual(v.count(2.0), 1)
        self.assertEqual(v.count("2"), 0)
        self.assertEqual(v.index(3), 2)
        self.assertEqual(v.index(3.0), 2)
        self.assertIs(type(v.count(2)), int)
        self.assertIs(type(v.index(3)), int)

    def test_each_kind(self):
        for v, expected in kind_vectors():
            for x in expected + ["zz", 12345]:
                self.assertEqual(v.count(x), expected.count(x))
                if x in expected:
                    self.assertEqual(v.index(x), expected.index(x))

    @unittest.skipIf("asan" in os.environ.get("LD_PRELOAD", "") or
                     "OVATTR_UNDER_VALGRIND" in os.environ,
                     "an address-space limit says nothing under a sanitizer or valgrind")
    def test_elements_that_cannot_be_made_are_skipped(self):
        # Making the first element needs 64 MiB more than the address-space limit leaves:
        # count and index go on past it, as past an unequal element.
        script = "\n".join([
            "import resource, PyOvAttribute",
            "v = PyOvAttribute.StringAttribute(['x' * (64 << 20), 'a']).getData()",
            "size = int(open('/proc/self/statm').read().split()[0]) * resource.getpagesize()",
            "resource.setrlimit(resource.RLIMIT_AS, (size + (16 << 20), -1))",
            "print('%d %d' % (v.count('a'), v.index('a')))"])
        child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE)
        self.assertEqual(child.communicate()[0].split(), ["1", "1"])

    def test_index_missing(self):
        v = IntAttribute([1, 2, 3]).getData()
        with self.assertRaises(ValueError) as caught:
            v.index(9)
        message = caught.exception.args[0]
        self.assertIs(type(message), unicode)
        self.assertEqual(message, u"9 is not in list")
        with self.assertRaises(ValueError) as caught:
            v.index("it's")
        self.assertEqual(caught.exception.args[0], u"\"it's\" is not in list")

    def test_positions_are_relative_to_a_slice(self):
        v = IntAttribute([7, 1, 7, 2, 7]).getData()
        s = v[1:]
        self.assertEqual(s.index(v[1]), 0)
        self.assertEqual(s.index(7), 1)
        self.assertEqual(s.count(7), 2)
        self.assertEqual(v[1:4].count(7), 1)
        self.assertRaises(ValueError, v[3:3].index, 7)

    def test_nan_is_never_found(self):
        v = DoubleAttribute([NAN, 1.0]).getData()
        self.assertEqual(v.count(NAN), 0)
        self.assertRaises(ValueError, v.index, NAN)

    def test_a_comparison_that_raises_counts_as_unequal(self):
        class Angry(object):
            def __eq__(self, other):
                raise ArithmeticError("no")

        v = IntAttribute([1, 2]).getData()
        self.assertEqual(v.count(Angry()), 0)
        self.assertRaises(ValueError, v.index, Angry())

    def test_argument_errors(self):
        v = IntAttribute([1]).getData()
        for method in (v.count, v.index):
            self.assertRaises(TypeError, method)
            self.assertRaises(TypeError, method, 1, 2)
            self.assertRaises(TypeError, method, 1, 0, 1)
            self.assertRaises(TypeError, method, x=1)


class ComparisonTest(unittest.TestCase):

    def assertOrder(self, a, b, verdict):
        self.assertEqual(a < b, verdict < 0)
        self.assertEqual(a <= b, verdict <= 0)
        self.assertEqual(a == b, verdict == 0)
        self.assertEqual(a != b, verdict != 0)
        self.assertEqual(a > b, verdict > 0)
        self.assertEqual(a >= b, verdict >= 0)

    def test_same_kind_by_value(self):
        cases = [([1, 2], [1, 2], 0), ([1, 2], [1, 3], -1), ([2], [1, 9], 1), ([1], [1, 0], -1),
                 ([], [], 0), ([-1], [1], -1), ([-(2 ** 31)], [2 ** 31 - 1], -1)]
        for left, right, verdict in cases:
            self.assertOrder(IntAttribute(left).getData(), IntAttribute(right).getData(), verdict)
            self.assertOrder(DoubleAttribute(left).getData(), DoubleAttribute(right).getData(),
                             verdict)
        self.assertOrder(StringAttribute(["a", "b"]).getData(),
                         StringAttribute(["a", "c"]).getData(), -1)
        self.assertOrder(StringAttribute(["ab"]).getData(), StringAttribute(["a"]).getData(), 1)
        self.assertOrder(StringAttribute(["\xff"]).getData(), StringAttribute(["a"]).getData(),
                         1)

    def test_same_kind_through_slices(self):
        v = IntAttribute([0, 1, 2, 3, 1, 2]).getData()
        self.assertOrder(v[1:3], v[4:], 0)
        self.assertOrder(v[1:3], v[3:5], -1)
        self.assertOrder(v[6:], v[2:2], 0)

    def test_nan_rules(self):
        a = FloatAttribute([1.0, NAN, 2.0]).getData()
        b = FloatAttribute([1.0, NAN, 2.0]).getData()
        self.assertTrue(a == b)
        # Unordered raw values are passed over: the next position decides.
        self.assertTrue(a < FloatAttribute([1.0, NAN, 3.0]).getData())
        self.assertTrue(a == FloatAttribute([1.0, 5.0, 2.0]).getData())
        # Compared with a list, the NaN element is no equal of anything.
        self.assertFalse(a == [1.0, NAN, 2.0])
        self.assertTrue(a != [1.0, NAN, 2.0])

    def test_other_kinds_by_python_value(self):
        self.assertOrder(IntAttribute([1, 2]).getData(), DoubleAttribute([1.0, 2.0]).getData(), 0)
        self.assertOrder(FloatAttribute([0.5]).getData(), DoubleAttribute([0.5]).getData(), 0)
        self.assertOrder(FloatAttribute([0.1]).getData(), DoubleAttribute([0.1]).getData(), 1)
        self.assertOrder(IntAttribute([1]).getData(), DoubleAttribute([1.5]).getData(), -1)

    def test_with_lists_and_tuples(self):
        v = IntAttribute([1, 2, 3]).getData()
        self.assertOrder(v, [1, 2, 3], 0)
        self.assertOrder(v, (1, 2, 3), 0)
        self.assertOrder(v, [1, 2, 3, 0], -1)
        self.assertOrder(v, [1, 2], 1)
        self.assertOrder(v, [1, 5], -1)
        self.assertOrder(v, [1.0, 2.0, 3.0], 0)
        self.assertOrder(v, xrange(1, 4), 0)
        self.assertTrue([1, 2, 3] == v)
        self.assertTrue([1, 2, 4] > v)
        self.assertOrder(StringAttribute(["a"]).getData(), ["a"], 0)

    def test_non_sequences_get_not_implemented(self):
        v = IntAttribute([1]).getData()
        for other in (3, None, {0: 1}, object(), 1.5):
            for op in ("__eq__", "__ne__", "__lt__", "__le__", "__gt__", "__ge__"):
                self.assertIs(getattr(v, op)(other), NotImplemented)
        self.assertFalse(v == 3)
        self.assertTrue(v != {})

    def test_failing_fetch_from_the_other_sequence(self):
        class Short(object):
            def __len__(self):
                return 3

            def __getitem__(self, i):
                raise KeyError(i)

        self.assertRaises(KeyError, lambda: IntAttribute([1]).getData() == Short())

    def test_forged_class_takes_the_sequence_path(self):
        class Forged(list):
            __class__ = property(lambda self: ConstVector)

        forged = Forged([1, 2])
        self.assertIsInstance(forged, ConstVector)
        self.assertTrue(IntAttribute([1, 2]).getData() == forged)

    def test_unhashable(self):
        self.assertRaises(TypeError, hash, IntAttribute([1]).getData())


class ReprTest(unittest.TestCase):

    def test_each_kind(self):
        cases = [
            (IntAttribute([1, 2, 3]), "[1, 2, 3]"),
            (IntAttribute([-(2 ** 31), 2 ** 31 - 1, 0, -7]), "[-2147483648, 2147483647, 0, -7]"),
            (DoubleAttribute([0.5, 1e16, -0.0]), "[0.5, 1e+16, -0.0]"),
            (DoubleAttribute([1.0, NAN, float("inf"), -float("inf"), 1e-5, 0.1]),
             "[1.0, nan, inf, -inf, 1e-05, 0.1]"),
            (FloatAttribute([0.1, 2, 1e39]), "[0.10000000149011612, 2.0, inf]"),
            (StringAttribute(["a", "it's"]), "['a', 'it's']"),
            (StringAttribute(["\n", "\\", ""]), "['\n', '\\', '']"),
            (IntAttribute([]), "[]"),
        ]
        for attr, text in cases:
            v = attr.getData()
            self.assertEqual(repr(v), text)
            self.assertEqual(str(v), text)
            self.assertIs(type(repr(v)), str)

    def test_numbers_print_like_lists(self):
        ints = range(-1000, 1000, 7)
        self.assertEqual(repr(IntAttribute(ints).getData()), repr(ints))
        doubles = [i * 0.37 for i in range(-300, 300)] + [1e300, 5e-324, 123456789.0]
        self.assertEqual(repr(DoubleAttribute(doubles).getData()), repr(doubles))

    def test_slices(self):
        v = IntAttribute([1, 2, 3, 4]).getData()
        self.assertEqual(repr(v[1:3]), "[2, 3]")
        self.assertEqual(repr(v[3:1]), "[]")


class ToOvAttrTest(unittest.TestCase):

    def test_whole_flat_sample_gives_the_same_value(self):
        for attr in (IntAttribute([1, 2]), FloatAttribute([0.1]), DoubleAttribute([]),
                     StringAttribute(["x", "y"]), IntAttribute({0.0: [4]})):
            back = attr.getData().toOvAttr()
            self.assertIs(type(back), type(attr))
            self.assertEqual(back, attr)
            self.assertEqual(back.getHash(), attr.getHash())
            self.assertIsNot(back, attr)

    def test_tuples_become_flat(self):
        attr = IntAttribute([1, 2, 3, 4, 5, 6], 3)
        back = attr.getData().toOvAttr()
        self.assertEqual(back.getTupleSize(), 1)
        self.assertEqual(list(back.getData()), [1, 2, 3, 4, 5, 6])
        self.assertEqual(back, IntAttribute([1, 2, 3, 4, 5, 6]))
        self.assertNotEqual(back, attr)

    def test_slices_hold_only_their_values(self):
        v = StringAttribute(["a", "b", "c", "d"]).getData()
        self.assertEqual(v[1:3].toOvAttr(), StringAttribute(["b", "c"]))
        self.assertEqual(v[:3].toOvAttr(), StringAttribute(["a", "b", "c"]))
        self.assertEqual(v[2:2].toOvAttr(), StringAttribute([]))
        w = DoubleAttribute([0.25, 0.5]).getData()
        self.assertEqual(w[1:].toOvAttr(), DoubleAttribute([0.5]))
        self.assertEqual(w[:5].toOvAttr(), DoubleAttribute([0.25, 0.5]))

    def test_samples_of_timed_attributes_move_to_time_zero(self):
        attr = FloatAttribute({0: [1.0], 1: [2.0]})
        self.assertEqual(attr.getNearestSample(1).toOvAttr(), FloatAttribute([2.0]))
        self.assertEqual(attr.getData().toOvAttr(), FloatAttribute([1.0]))
        attr = IntAttribute({2.5: [8, 9]})
        back = attr.getData().toOvAttr()
        self.assertEqual(back.getSampleTimes(), (0.0,))
        self.assertEqual(back, IntAttribute([8, 9]))

    def test_result_carries_one_reference(self):
        v = IntAttribute([1]).getData()
        back = v.toOvAttr()
        self.assertEqual(sys.getrefcount(back), 2)
        back = v[:0].toOvAttr()
        self.assertEqual(sys.getrefcount(back), 2)


class LifetimeTest(unittest.TestCase):

    def test_a_vector_outlives_its_attribute(self):
        a = DoubleAttribute([1.5, 2.5, 3.5])
        v = a.getData()
        s = v[1:]
        del a
        gc.collect()
        self.assertEqual(list(v), [1.5, 2.5, 3.5])
        self.assertEqual(repr(s), "[2.5, 3.5]")
        self.assertEqual(v.toOvAttr(), DoubleAttribute([1.5, 2.5, 3.5]))
        del v
        self.assertEqual(list(s), [2.5, 3.5])

    def test_large_samples_outlive_their_attribute(self):
        strings = ["value %d" % i for i in range(10000)]
        v = StringAttribute(strings).getData()
        self.assertEqual(v[9999], "value 9999")
        self.assertEqual(v, strings)

    def test_a_vector_holds_no_python_reference(self):
        a = IntAttribute([1, 2, 3])
        before = sys.getrefcount(a)
        v = a.getData()
        s = v[1:]
        self.assertEqual(sys.getrefcount(a), before)
        self.assertEqual(sys.getrefcount(v), 2)
        self.assertEqual(sys.getrefcount(s), 2)
        self.assertEqual(gc.get_referents(v), [])

    def test_elements_carry_one_reference(self):
        for attr in (IntAttribute([10 ** 6]), DoubleAttribute([2.5]),
                     StringAttribute(["long string"])):
            v = attr.getData()
            element = v[0]
            self.assertEqual(sys.getrefcount(element), 2)
            element = v[:][-1]
            self.assertEqual(sys.getrefcount(element), 2)


class ConstructionTest(unittest.TestCase):

    def test_python_cannot_create_one(self):
        self.assertRaises(TypeError, ConstVector)
        self.assertRaises(TypeError, ConstVector.__new__, ConstVector)
        with self.assertRaises(TypeError):
            type("Sub", (ConstVector,), {})

    def test_initialiser_refuses(self):
        v = IntAttribute([1, 2]).getData()
        for args, kwargs in [((), {}), ((1, 2), {}), ((), {"x": 1})]:
            with self.assertRaises(TypeError) as caught:
                v.__init__(*args, **kwargs)
            self.assertEqual(str(caught.exception), "Cannot construct ConstVector directly.")
        self.assertEqual(list(v), [1, 2])


@requires_testext
class EmptyVectorTest(unittest.TestCase):
    """The vector of an attribute of no data kind."""

    def vectors(self):
        group = GroupBuilder().build()
        return [testext.const_vector(NullAttribute(), 0.0), testext.const_vector(group, 1.0),
                testext.const_vector(3, 0.0)]

    def test_is_empty_everywhere(self):
        for v in self.vectors():
            self.assertIs(type(v), ConstVector)
            self.assertEqual(len(v), 0)
            self.assertEqual(repr(v), "[]")
            self.assertEqual(list(v), [])
            for i in (0, -1, 5):
                with self.assertRaises(IndexError) as caught:
                    v[i]  # pylint: disable=pointless-statement
                self.assertEqual(str(caught.exception), "index out of range")
            self.assertEqual(v.count(0), 0)
            self.assertRaises(ValueError, v.index, 0)
            self.assertIsNone(v.toOvAttr())
            self.assertEqual(repr(v[0:10]), "[]")
            self.assertIsNone(v[:].toOvAttr())

    def test_equals_every_empty_sequence(self):
        v = empty_vector()
        self.assertTrue(v == empty_vector())
        self.assertTrue(v == [])
        self.assertTrue(v == ())
        self.assertTrue(v == IntAttribute([]).getData())
        self.assertTrue(v < [0])
        self.assertTrue(v < IntAttribute([0]).getData())

    def test_data_kinds_through_the_export(self):
        v = testext.const_vector(IntAttribute({0: [1], 2: [5, 6][:1]}), 1.5)
        self.assertEqual(list(v), [5])


if __name__ == "__main__":
    unittest.main()
