"""The Util submodule's time-sample functions and the module's delimiter codec."""

import sys
import unittest

import PyOvAttribute
from PyOvAttribute import (DoubleAttribute, FloatAttribute, GroupAttribute, GroupBuilder,
                           IntAttribute, NullAttribute, StringAttribute, Util)

FIRST_ERROR = "First argument must be a valid Attribute"
SECOND_ERROR = "Second argument must be a valid DataAttribute"


def sample_times(attribute):
    return sorted(attribute.getSamples().keys())


class UtilArgumentTest(unittest.TestCase):

    def not_attributes(self):
        return [5, None, "text", 1.5, GroupBuilder(), IntAttribute([1]).getData(),
                IntAttribute.__new__(IntAttribute), GroupAttribute.__new__(GroupAttribute)]

    def test_first_argument_must_be_an_attribute(self):
        calls = [
            lambda x: Util.RemoveTimeSamplesIfAllSame(x),
            lambda x: Util.RemoveTimeSamplesUnneededForShutter(x, 0.0, 1.0),
            lambda x: Util.ResampleAttrWithInterp(x, IntAttribute(1)),
        ]
        for call in calls:
            for value in self.not_attributes():
                with self.assertRaises(TypeError) as raised:
                    call(value)
                self.assertEqual(str(raised.exception), FIRST_ERROR, repr(value))

    def test_second_argument_must_be_a_data_attribute(self):
        for times in self.not_attributes() + [GroupAttribute(), NullAttribute()]:
            with self.assertRaises(TypeError) as raised:
                Util.ResampleAttrWithInterp(IntAttribute(1), times)
            self.assertEqual(str(raised.exception), SECOND_ERROR, repr(times))

    def test_the_first_arguments_error_wins(self):
        for first, second in ((5, GroupAttribute()), (None, 5), (GroupBuilder(), "x")):
            with self.assertRaises(TypeError) as raised:
                Util.ResampleAttrWithInterp(first, second)
            self.assertEqual(str(raised.exception), FIRST_ERROR)

    def test_argument_parser_errors(self):
        attribute = IntAttribute(1)
        bad_calls = [
            lambda: Util.RemoveTimeSamplesIfAllSame(),
            lambda: Util.RemoveTimeSamplesIfAllSame(attribute, attribute),
            lambda: Util.RemoveTimeSamplesUnneededForShutter(attribute, 0.0),
            lambda: Util.RemoveTimeSamplesUnneededForShutter(attribute, "0", 1.0),
            lambda: Util.RemoveTimeSamplesUnneededForShutter(5, "0", 1.0),  # parser first
            lambda: Util.ResampleAttrWithInterp(attribute),
            lambda: Util.RemoveTimeSamplesIfAllSame(attribute=attribute),
        ]
        for call in bad_calls:
            self.assertRaises(TypeError, call)

    def test_arguments_and_results_are_counted_right(self):
        attribute = IntAttribute({0.0: [1], 1.0: [1]})
        times = FloatAttribute({0.5: [0.0]})
        before = (sys.getrefcount(attribute), sys.getrefcount(times))
        results = [Util.RemoveTimeSamplesIfAllSame(attribute),
                   Util.RemoveTimeSamplesUnneededForShutter(attribute, 0.0, 1.0),
                   Util.ResampleAttrWithInterp(attribute, times)]
        for result in results:
            self.assertIsNot(result, attribute)
            self.assertEqual(sys.getrefcount(result), 3)  # the list, the loop name, the argument
        with self.assertRaises(TypeError):
            Util.ResampleAttrWithInterp(attribute, GroupAttribute())
        self.assertEqual((sys.getrefcount(attribute), sys.getrefcount(times)), before)


class RemoveTimeSamplesIfAllSameTest(unittest.TestCase):

    def test_equal_samples_collapse_to_one_at_time_zero(self):
        for kind, values in ((IntAttribute, [1, 2]), (FloatAttribute, [0.5, -1.0]),
                             (DoubleAttribute, [0.1, 0.2]), (StringAttribute, ["a", "b"])):
            sampled = kind({0.5: values, 1.0: values, 2.0: values}, 2)
            result = Util.RemoveTimeSamplesIfAllSame(sampled)
            self.assertIs(type(result), kind)
            self.assertEqual(result, kind(values, 2))
            self.assertEqual(sample_times(result), [0.0])

    def test_differing_samples_come_back_unchanged(self):
        sampled = IntAttribute({0.0: [1], 1.0: [2]})
        result = Util.RemoveTimeSamplesIfAllSame(sampled)
        self.assertIs(type(result), IntAttribute)
        self.assertEqual(result, sampled)

    def test_groups_are_cleaned_recursively(self):
        group = GroupAttribute([("a", IntAttribute({0.0: [7], 3.0: [7]})),
                                ("g", GroupAttribute([("b", FloatAttribute({1.0: [2.0],
                                                                            2.0: [2.0]}))])),
                                ("n", NullAttribute())])
        result = Util.RemoveTimeSamplesIfAllSame(group)
        self.assertIs(type(result), GroupAttribute)
        expected = GroupAttribute([("a", IntAttribute(7)),
                                   ("g", GroupAttribute([("b", FloatAttribute(2.0))])),
                                   ("n", NullAttribute())])
        self.assertEqual(result.getHash(), expected.getHash())

    def test_null_stays_null(self):
        self.assertIs(type(Util.RemoveTimeSamplesIfAllSame(NullAttribute())), NullAttribute)


class RemoveTimeSamplesUnneededForShutterTest(unittest.TestCase):

    def setUp(self):
        self.sampled = DoubleAttribute(dict((float(t), [t * 10.0]) for t in range(5)))

    def test_keeps_the_interval_and_one_sample_beyond_each_end(self):
        result = Util.RemoveTimeSamplesUnneededForShutter(self.sampled, 1.5, 2.5)
        self.assertIs(type(result), DoubleAttribute)
        self.assertEqual(sample_times(result), [1.0, 2.0, 3.0])
        self.assertEqual(list(result.getNearestSample(3.0)), [30.0])

    def test_the_times_are_passed_in_the_order_given(self):
        forward = Util.RemoveTimeSamplesUnneededForShutter(self.sampled, 1.5, 2.5)
        backward = Util.RemoveTimeSamplesUnneededForShutter(self.sampled, 2.5, 1.5)
        self.assertEqual(forward, backward)

    def test_integers_are_accepted_for_the_times(self):
        result = Util.RemoveTimeSamplesUnneededForShutter(self.sampled, 1, 2)
        self.assertEqual(sample_times(result), [0.0, 1.0, 2.0, 3.0])

    def test_groups_are_trimmed_recursively(self):
        group = GroupAttribute([("d", self.sampled), ("i", IntAttribute(1))])
        result = Util.RemoveTimeSamplesUnneededForShutter(group, 3.5, 3.75)
        self.assertIs(type(result), GroupAttribute)
        self.assertEqual(sample_times(result.getChildByName("d")), [3.0, 4.0])
        self.assertEqual(result.getChildByName("i"), IntAttribute(1))


class ResampleAttrWithInterpTest(unittest.TestCase):

    def test_floats_interpolate_linearly(self):
        source = FloatAttribute({0.0: [0.0, 100.0], 2.0: [10.0, 200.0]}, 2)
        times = IntAttribute({0.5: [0], 1.0: [0], -1.0: [0], 3.0: [0]})
        result = Util.ResampleAttrWithInterp(source, times)
        self.assertIs(type(result), FloatAttribute)
        expected = FloatAttribute({-1.0: [0.0, 100.0], 0.5: [2.5, 125.0], 1.0: [5.0, 150.0],
                                   3.0: [10.0, 200.0]}, 2)
        self.assertEqual(result.getHash(), expected.getHash())

    def test_doubles_interpolate_and_the_times_may_be_any_data_kind(self):
        source = DoubleAttribute({0.0: [1.0], 1.0: [2.0]})
        for times in (StringAttribute({0.25: ["x"]}), DoubleAttribute({0.25: [9.0]})):
            result = Util.ResampleAttrWithInterp(source, times)
            self.assertIs(type(result), DoubleAttribute)
            self.assertEqual(result, DoubleAttribute({0.25: [1.25]}))

    def test_integers_and_strings_take_the_nearest_sample(self):
        times = FloatAttribute({0.25: [0.0], 0.75: [0.0]})
        ints = Util.ResampleAttrWithInterp(IntAttribute({0.0: [0], 1.0: [10]}), times)
        self.assertIs(type(ints), IntAttribute)
        self.assertEqual(ints, IntAttribute({0.25: [0], 0.75: [10]}))
        strings = Util.ResampleAttrWithInterp(StringAttribute({0.0: ["a"], 1.0: ["b"]}), times)
        self.assertIs(type(strings), StringAttribute)
        self.assertEqual(strings, StringAttribute({0.25: ["a"], 0.75: ["b"]}))

    def test_groups_are_resampled_recursively(self):
        times = FloatAttribute({0.5: [0.0]})
        group = GroupAttribute([("f", FloatAttribute({0.0: [0.0], 1.0: [1.0]})),
                                ("n", NullAttribute())])
        result = Util.ResampleAttrWithInterp(group, times)
        self.assertIs(type(result), GroupAttribute)
        self.assertEqual(result.getChildByName("f"), FloatAttribute({0.5: [0.5]}))
        self.assertIs(type(result.getChildByName("n")), NullAttribute)


class DelimiterTest(unittest.TestCase):

    def test_encodes_exactly_the_three_delimiters(self):
        self.assertEqual(PyOvAttribute.DelimiterEncode("a.b/c%d"), "a%2Eb%2Fc%25d")
        self.assertEqual(PyOvAttribute.DelimiterEncode("plain-name_1"), "plain-name_1")
        self.assertEqual(PyOvAttribute.DelimiterEncode(""), "")

    def test_decodes_either_case_and_leaves_other_escapes(self):
        self.assertEqual(PyOvAttribute.DelimiterDecode("a%2eb%2Fc%25d%2f"), "a.b/c%d/")
        self.assertEqual(PyOvAttribute.DelimiterDecode("%41%2%"), "%41%2%")
        self.assertEqual(PyOvAttribute.DelimiterDecode(""), "")

    def test_round_trip_of_every_byte(self):
        text = "".join(chr(i) for i in range(1, 256)) * 2
        encoded = PyOvAttribute.DelimiterEncode(text)
        self.assertNotIn(".", encoded)
        self.assertNotIn("/", encoded)
        self.assertEqual(PyOvAttribute.DelimiterDecode(encoded), text)
        self.assertEqual(PyOvAttribute.DelimiterDecode(PyOvAttribute.DelimiterEncode("%2E")),
                         "%2E")

    def test_results_are_str(self):
        self.assertIs(type(PyOvAttribute.DelimiterEncode(u"a.b")), str)
        self.assertEqual(PyOvAttribute.DelimiterEncode(u"a.b"), "a%2Eb")
        result = PyOvAttribute.DelimiterDecode("x%2Ey")
        self.assertEqual(sys.getrefcount(result), 2)

    def test_argument_errors(self):
        for function in (PyOvAttribute.DelimiterEncode, PyOvAttribute.DelimiterDecode):
            self.assertRaises(TypeError, function, "a\0b")
            self.assertRaises(TypeError, function, 5)
            self.assertRaises(TypeError, function)
            self.assertRaises(TypeError, function, "a", "b")
            self.assertRaises(UnicodeError, function, u"\xe9")

    def test_an_encoded_name_stays_one_child_in_normal_mode(self):
        name = "render.settings/v1"
        group = GroupBuilder().set(PyOvAttribute.DelimiterEncode(name), 1).build()
        self.assertEqual(group.getNumberOfChildren(), 1)
        self.assertEqual(PyOvAttribute.DelimiterDecode(group.getChildName(0)), name)


if __name__ == "__main__":
    unittest.main()
