"""DataAttribute: refused construction and the shape queries every typed attribute answers."""

import struct
import sys
import unittest

from PyOvAttribute import (DataAttribute, DoubleAttribute, FloatAttribute, GroupAttribute,
                           IntAttribute, NullAttribute, StringAttribute)
import _ovattr_testext as testext
from ovtest_support import RefcountTestCase

ABSTRACT = "Cannot construct abstract DataAttribute directly."
NO_ARG_METHODS = ("getTupleSize", "getNumberOfValues", "getNumberOfTuples",
                  "getNumberOfTimeSamples", "getSampleTimes")
NAN = float("nan")


def as_float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def sampled(kind=IntAttribute):
    """Three samples of two values at 0, 0.5 and 1, given out of order."""
    values = {IntAttribute: ([5, 6], [1, 2], [3, 4]), FloatAttribute: ([5.0, 6.0], [1.0, 2.0],
                                                                      [3.0, 4.0]),
              DoubleAttribute: ([5.0, 6.0], [1.0, 2.0], [3.0, 4.0]),
              StringAttribute: (["e", "f"], ["a", "b"], ["c", "d"])}[kind]
    return kind({1.0: values[0], 0.0: values[1], 0.5: values[2]})


def objects_without_data_value():
    """Objects of the DataAttribute tree whose handle is not data."""
    class Unset(DataAttribute):
        def __init__(self):  # pylint: disable=super-init-not-called
            pass
    objects = [cls.__new__(cls) for cls in (DataAttribute, IntAttribute, FloatAttribute,
                                            DoubleAttribute, StringAttribute)]
    objects.append(Unset())
    return objects


class ConstructionTest(unittest.TestCase):

    def test_refused(self):
        for args, kwargs in (((), {}), (([1, 2],), {}), ((), {"tupleSize": 2})):
            with self.assertRaises(TypeError) as cm:
                DataAttribute(*args, **kwargs)
            self.assertEqual(str(cm.exception), ABSTRACT)

    def test_subclass_without_initialiser_is_refused(self):
        class Sub(DataAttribute):
            pass
        with self.assertRaises(TypeError) as cm:
            Sub(1)
        self.assertEqual(str(cm.exception), ABSTRACT)

    def test_initialiser_on_a_live_object_drops_its_value(self):
        attribute = IntAttribute([1, 2])
        with self.assertRaises(TypeError) as cm:
            DataAttribute.__init__(attribute)
        self.assertEqual(str(cm.exception), ABSTRACT)
        with self.assertRaises(TypeError) as cm:
            attribute.getTupleSize()
        self.assertEqual(str(cm.exception), "Invalid attr")


class CountsTest(unittest.TestCase):

    def check_counts(self, attribute, tuple_size, values, tuples, samples):
        got = (attribute.getTupleSize(), attribute.getNumberOfValues(),
               attribute.getNumberOfTuples(), attribute.getNumberOfTimeSamples())
        self.assertEqual(got, (tuple_size, values, tuples, samples))
        for count in got:
            self.assertIs(type(count), int)

    def test_flat_values_with_a_tuple_size(self):
        self.check_counts(IntAttribute([1, 2, 3, 4], 2), 2, 4, 2, 1)
        self.check_counts(FloatAttribute([1.0, 2.0, 3.0], 3), 3, 3, 1, 1)
        self.check_counts(StringAttribute(["a", "b"]), 1, 2, 2, 1)

    def test_single_value(self):
        for attribute in (IntAttribute(5), IntAttribute(5, 3), FloatAttribute(1.0),
                          DoubleAttribute(2.0), StringAttribute("x")):
            self.check_counts(attribute, 1, 1, 1, 1)

    def test_tuple_sizes_that_do_not_divide_are_kept(self):
        self.check_counts(IntAttribute([1, 2, 3], 2), 2, 3, 1, 1)
        self.check_counts(IntAttribute([1, 2, 3], 0), 0, 3, 0, 1)
        self.check_counts(IntAttribute([1, 2, 3], -2), -2, 3, 0, 1)
        self.check_counts(IntAttribute([], 4), 4, 0, 0, 1)

    def test_large_tuple_size_passes_unchanged(self):
        self.check_counts(IntAttribute([1], 2 ** 31 - 1), 2 ** 31 - 1, 1, 0, 1)

    def test_samples(self):
        for kind in (IntAttribute, FloatAttribute, DoubleAttribute, StringAttribute):
            self.check_counts(sampled(kind), 1, 2, 2, 3)
        self.check_counts(IntAttribute({0: [], 1: []}), 1, 0, 0, 2)


class SampleTimesTest(RefcountTestCase):

    def test_times_in_ascending_order(self):
        for kind in (IntAttribute, FloatAttribute, DoubleAttribute, StringAttribute):
            attribute = sampled(kind)
            self.assertEqual(attribute.getSampleTimes(), (0.0, 0.5, 1.0))
            self.assertEqual([attribute.getSampleTime(i) for i in range(3)], [0.0, 0.5, 1.0])

    def test_data_without_times_is_one_sample_at_zero(self):
        attribute = IntAttribute([1, 2, 3])
        self.assertEqual(attribute.getSampleTimes(), (0.0,))
        self.assertEqual(attribute.getSampleTime(0), 0.0)

    def test_times_are_32_bit_floats_widened_exactly(self):
        attribute = IntAttribute({0.1: [1], 1.0 / 3: [2]})
        times = attribute.getSampleTimes()
        self.assertEqual(times, (as_float32(0.1), as_float32(1.0 / 3)))
        self.assertEqual(times[0], 0.10000000149011612)
        self.assertEqual(attribute.getSampleTime(0), 0.10000000149011612)
        for time in times:
            self.assertIs(type(time), float)

    def test_index_outside_the_samples_is_the_library_answer(self):
        attribute = sampled()
        for index in (3, 4, -1, -3, 2 ** 62, -2 ** 63, 2 ** 63 - 1):
            self.assertEqual(attribute.getSampleTime(index), 0.0, index)

    def test_index_argument_errors(self):
        attribute = sampled()
        with self.assertRaises(OverflowError):
            attribute.getSampleTime(2 ** 63)
        for bad in ("0", None, []):
            self.assertRaises(TypeError, attribute.getSampleTime, bad)
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(0 given\)$"):
            attribute.getSampleTime()
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(2 given\)$"):
            attribute.getSampleTime(0, 1)

    def test_index_accepts_long_and_bool(self):
        attribute = sampled()
        self.assertEqual(attribute.getSampleTime(1L), 0.5)
        self.assertEqual(attribute.getSampleTime(True), 0.5)

    def test_sample_times_result_is_a_fresh_tuple(self):
        attribute = sampled()
        times, _ = self.callKeepingRefcounts([attribute], attribute.getSampleTimes)
        self.assertIs(type(times), tuple)
        self.assertEqual(sys.getrefcount(times), 2)
        self.assertIsNot(times, attribute.getSampleTimes())


class BoundingSampleTimesTest(RefcountTestCase):

    def test_bounds(self):
        attribute = sampled()
        cases = [(-1.0, (0.0, 0.0)), (0.0, (0.0, 0.0)), (0.25, (0.0, 0.5)), (0.5, (0.5, 0.5)),
                 (0.75, (0.5, 1.0)), (1.0, (1.0, 1.0)), (5.0, (1.0, 1.0)),
                 (float("inf"), (1.0, 1.0)), (float("-inf"), (0.0, 0.0))]
        for time, expected in cases:
            self.assertEqual(attribute.getBoundingSampleTimes(time), expected, time)

    def test_single_sample(self):
        attribute = DoubleAttribute([1.0, 2.0])
        for time in (-1.0, 0.0, 1.0):
            self.assertEqual(attribute.getBoundingSampleTimes(time), (0.0, 0.0))

    def test_no_answer_gives_two_nones(self):
        result = sampled().getBoundingSampleTimes(NAN)
        self.assertIs(type(result), tuple)
        self.assertEqual(len(result), 2)
        self.assertIs(result[0], None)
        self.assertIs(result[1], None)

    def test_bounds_are_widened_32_bit_floats(self):
        attribute = FloatAttribute({0.1: [1.0], 0.7: [2.0]})
        low, high = attribute.getBoundingSampleTimes(0.3)
        self.assertEqual((low, high), (as_float32(0.1), as_float32(0.7)))
        self.assertIs(type(low), float)

    def test_time_is_narrowed_to_a_32_bit_float(self):
        attribute = IntAttribute({0.1: [1], 0.2: [2], 0.3: [3]})
        # The double 0.2 lies just below the 32-bit time 0.2; only narrowed does it land on
        # that sample instead of between two.
        self.assertEqual(attribute.getBoundingSampleTimes(0.2),
                         (as_float32(0.2), as_float32(0.2)))

    def test_accepts_integers(self):
        self.assertEqual(sampled().getBoundingSampleTimes(1), (1.0, 1.0))
        self.assertEqual(sampled().getBoundingSampleTimes(0L), (0.0, 0.0))

    def test_argument_errors(self):
        attribute = sampled()
        for bad in ("0.5", None, [0.5]):
            with self.assertRaises(TypeError):
                attribute.getBoundingSampleTimes(bad)
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(0 given\)$"):
            attribute.getBoundingSampleTimes()

    def test_reference_counts(self):
        attribute = sampled()
        result, _ = self.callKeepingRefcounts([attribute], attribute.getBoundingSampleTimes, 0.3)
        self.assertEqual(sys.getrefcount(result), 2)
        none_count = sys.getrefcount(None)
        result = attribute.getBoundingSampleTimes(NAN)
        self.assertEqual(sys.getrefcount(None), none_count + 2)
        del result
        self.assertEqual(sys.getrefcount(None), none_count)


class InvalidAttrTest(unittest.TestCase):
    """Objects of the DataAttribute tree without a data value: "Invalid attr", before the
    arguments are looked at."""

    def assertInvalidAttr(self, fn, *args):
        with self.assertRaises(TypeError) as cm:
            fn(*args)
        self.assertEqual(str(cm.exception), "Invalid attr")

    def test_every_method(self):
        for obj in objects_without_data_value():
            for method in NO_ARG_METHODS:
                self.assertInvalidAttr(getattr(obj, method))
            self.assertInvalidAttr(obj.getSampleTime, 0)
            self.assertInvalidAttr(obj.getBoundingSampleTimes, 0.0)

    def test_reported_before_argument_errors(self):
        for obj in objects_without_data_value():
            self.assertInvalidAttr(obj.getSampleTime)
            self.assertInvalidAttr(obj.getSampleTime, "bad", "worse")
            self.assertInvalidAttr(obj.getBoundingSampleTimes, "bad")

    def test_methods_refuse_objects_outside_the_tree(self):
        for obj in (NullAttribute(), GroupAttribute()):
            with self.assertRaisesRegexp(TypeError, r"requires a 'PyOvAttribute.DataAttribute'"):
                DataAttribute.getTupleSize(obj)


class ExportedFunctionsOnDataTest(unittest.TestCase):

    def test_unwrapped_handle_keeps_the_shape(self):
        attribute = sampled(StringAttribute)
        copy = testext.rewrap(attribute)
        self.assertIs(type(copy), StringAttribute)
        self.assertEqual(copy.getSampleTimes(), attribute.getSampleTimes())
        self.assertEqual(copy.getTupleSize(), 1)


if __name__ == "__main__":
    unittest.main()
