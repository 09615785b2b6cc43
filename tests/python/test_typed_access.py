"""Reads of the typed attributes: getData, getSamples, getNearestSample and getValue, their
errors on objects without a value, reference counts of their results, and writePython text
read back through the OvAttribute package."""

import StringIO
import struct
import sys
import unittest

import OvAttribute
import PyOvAttribute
from PyOvAttribute import (ConstVector, DoubleAttribute, FloatAttribute, IntAttribute,
                           StringAttribute)

INVALID = "Underyling Attribute is invalid."
BAD_DEFAULT = "Invalid type provided for default value."
TYPED = (IntAttribute, FloatAttribute, DoubleAttribute, StringAttribute)


def f32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def write_python(attr):
    out = StringIO.StringIO()
    attr.writePython(out)
    return out.getvalue()


def read_back(text):
    return OvAttribute.readPython(text)


class GetDataTest(unittest.TestCase):

    def test_tuples_are_flattened(self):
        v = IntAttribute([1, 2, 3, 4], 2).getData()
        self.assertIs(type(v), ConstVector)
        self.assertEqual(repr(v), "[1, 2, 3, 4]")

    def test_sample_nearest_to_time_zero(self):
        a = IntAttribute({-3: [1], 0.5: [2], 4: [3]})
        self.assertEqual(list(a.getData()), [2])
        a = IntAttribute({-1: [1], 1: [2]})  # a tie: the earlier sample
        self.assertEqual(list(a.getData()), [1])

    def test_element_types(self):
        self.assertEqual([type(x) for x in IntAttribute([1]).getData()], [int])
        self.assertEqual([type(x) for x in FloatAttribute([1]).getData()], [float])
        self.assertEqual([type(x) for x in DoubleAttribute([1]).getData()], [float])
        self.assertEqual([type(x) for x in StringAttribute(["1"]).getData()], [str])

    def test_each_call_makes_a_new_vector(self):
        a = IntAttribute([1, 2])
        v, w = a.getData(), a.getData()
        self.assertIsNot(v, w)
        self.assertEqual(v, w)


class GetSamplesTest(unittest.TestCase):

    def test_one_vector_per_sample(self):
        got = IntAttribute({0.0: [1], 0.5: [2]}).getSamples()
        self.assertEqual(sorted(got.keys()), [0.0, 0.5])
        self.assertEqual(repr(got[0.0]), "[1]")
        self.assertEqual(repr(got[0.5]), "[2]")

    def test_keys_are_the_32_bit_times_widened(self):
        got = DoubleAttribute({0.1: [1.5]}).getSamples()
        self.assertEqual(got.keys(), [0.10000000149011612])
        self.assertNotIn(0.1, got)

    def test_single_sample_of_each_kind(self):
        for kind, data in [(IntAttribute, [3]), (FloatAttribute, [0.5]),
                           (DoubleAttribute, [0.5]), (StringAttribute, ["x"])]:
            got = kind(data).getSamples()
            self.assertEqual(got.keys(), [0.0])
            self.assertEqual(list(got[0.0]), data)

    def test_empty_samples(self):
        got = StringAttribute({0: [], 2: []}).getSamples()
        self.assertEqual(dict((k, list(v)) for k, v in got.items()), {0.0: [], 2.0: []})

    def test_reference_counts(self):
        got = IntAttribute({0: [1], 1: [2]}).getSamples()
        self.assertEqual(sys.getrefcount(got), 2)
        for key in got:
            # The dictionary's and the call's own.
            self.assertEqual(sys.getrefcount(got[key]), 2)


class GetNearestSampleTest(unittest.TestCase):

    def setUp(self):
        self.a = FloatAttribute({0: [1.0], 1: [2.0], 3: [3.0]})

    def test_nearest(self):
        self.assertEqual(list(self.a.getNearestSample(0.25)), [1.0])
        self.assertEqual(list(self.a.getNearestSample(1)), [2.0])
        self.assertEqual(list(self.a.getNearestSample(2)), [2.0])  # a tie: the earlier
        self.assertEqual(list(self.a.getNearestSample(2.5)), [3.0])
        self.assertEqual(list(self.a.getNearestSample(1e9)), [3.0])
        self.assertEqual(list(self.a.getNearestSample(-5L)), [1.0])
        self.assertEqual(list(self.a.getNearestSample(float("nan"))), [1.0])

    def test_argument_errors(self):
        for args in [(), ("x",), (1, 2), (None,)]:
            self.assertRaises(TypeError, self.a.getNearestSample, *args)
        self.assertRaises(TypeError, self.a.getNearestSample, time=1)


class GetValueTest(unittest.TestCase):

    def test_first_value_of_the_sample_nearest_to_zero(self):
        self.assertEqual(IntAttribute([7, 8]).getValue(), 7)
        self.assertEqual(IntAttribute({-2: [1], 0.25: [5], 3: [9]}).getValue(), 5)
        self.assertEqual(FloatAttribute(0.1).getValue(), f32(0.1))
        self.assertEqual(DoubleAttribute(0.1).getValue(), 0.1)
        self.assertEqual(StringAttribute(["a", "b"]).getValue(), "a")

    def test_result_types(self):
        self.assertIs(type(IntAttribute(1).getValue()), int)
        self.assertIs(type(FloatAttribute(1).getValue()), float)
        self.assertIs(type(DoubleAttribute(1).getValue()), float)
        self.assertIs(type(StringAttribute("1").getValue()), str)

    def test_built_in_defaults(self):
        for kind, default in [(IntAttribute, 0), (FloatAttribute, 0.0),
                              (DoubleAttribute, 0.0), (StringAttribute, "")]:
            got = kind([]).getValue(throwOnError=False)
            self.assertEqual(got, default)
            self.assertIs(type(got), type(default))

    def test_missing_value_raises_runtime_error_by_default(self):
        for kind in TYPED:
            self.assertRaises(RuntimeError, kind([]).getValue)
            self.assertRaises(RuntimeError, kind([]).getValue, throwOnError=True)
            self.assertRaises(RuntimeError, kind({0: [], 1: []}).getValue, throwOnError=7)

    def test_given_defaults_are_converted_like_elements(self):
        self.assertEqual(IntAttribute([]).getValue(2.7, False), 2)
        self.assertEqual(IntAttribute([]).getValue(True, 0), 1)
        self.assertEqual(FloatAttribute([]).getValue(3, False), 3.0)
        self.assertEqual(FloatAttribute([]).getValue(0.1, False), f32(0.1))
        self.assertEqual(DoubleAttribute([]).getValue(0.1, False), 0.1)
        self.assertEqual(StringAttribute([]).getValue("dflt", False), "dflt")
        self.assertEqual(StringAttribute([]).getValue("ab\0cd", False), "ab")
        self.assertEqual(StringAttribute([]).getValue(defaultValue="k", throwOnError=0), "k")

    def test_default_is_unused_when_there_is_a_value(self):
        self.assertEqual(IntAttribute(4).getValue(9), 4)
        self.assertEqual(StringAttribute("v").getValue("d", False), "v")

    def test_refused_defaults(self):
        for kind, default in [(IntAttribute, None), (IntAttribute, "1"), (FloatAttribute, "1"),
                              (DoubleAttribute, [1.0]), (StringAttribute, u"x"),
                              (StringAttribute, 1), (StringAttribute, None)]:
            with self.assertRaises(TypeError) as caught:
                kind(["1"] if kind is StringAttribute else [1]).getValue(default)
            self.assertEqual(str(caught.exception), BAD_DEFAULT)
        with self.assertRaises(TypeError) as caught:
            IntAttribute(1).getValue(defaultValue=None)
        self.assertEqual(str(caught.exception), BAD_DEFAULT)

    def test_defaults_whose_conversion_fails(self):
        self.assertRaises(OverflowError, IntAttribute(1).getValue, 2 ** 40)
        self.assertRaises(ValueError, IntAttribute(1).getValue, float("nan"))
        self.assertRaises(TypeError, DoubleAttribute(1).getValue, 1j)

    def test_argument_errors(self):
        a = IntAttribute(1)
        self.assertRaises(TypeError, a.getValue, 1, 0, 2)
        self.assertRaises(TypeError, a.getValue, other=1)
        self.assertRaises(TypeError, a.getValue, 1, "no")
        self.assertRaises(TypeError, a.getValue, 1, defaultValue=2)

    def test_result_carries_one_reference(self):
        value = StringAttribute("a fresh string value").getValue()
        self.assertEqual(sys.getrefcount(value), 2)
        default = "a default string, copied"
        before = sys.getrefcount(default)
        StringAttribute([]).getValue(default, False)
        self.assertEqual(sys.getrefcount(default), before)


class InvalidAttributeTest(unittest.TestCase):
    """Objects without a value: made by __new__ alone, or after a failed __init__."""

    def objects(self):
        made = [kind.__new__(kind) for kind in TYPED]
        failed = IntAttribute(1)
        self.assertRaises(TypeError, failed.__init__, object())
        return made + [failed]

    def test_every_method_raises(self):
        for obj in self.objects():
            for call in (obj.getData, obj.getSamples, lambda: obj.getNearestSample(0.0),
                         obj.getValue, lambda: obj.getValue(0, False)):
                with self.assertRaises(TypeError) as caught:
                    call()
                self.assertEqual(str(caught.exception), INVALID)

    def test_invalid_comes_before_argument_parsing(self):
        for obj in self.objects():
            for call in (obj.getNearestSample, lambda: obj.getValue(1, 2, 3, 4),
                         lambda: obj.getNearestSample("x", "y")):
                with self.assertRaises(TypeError) as caught:
                    call()
                self.assertEqual(str(caught.exception), INVALID)

    def test_other_kinds_refused_by_the_interpreter(self):
        # A method of one kind called on another kind's object never reaches the module.
        self.assertRaises(TypeError, IntAttribute.getData, FloatAttribute(1.0))


class WritePythonTest(unittest.TestCase):

    def assertRoundTrip(self, attr):
        text = write_python(attr)
        self.assertTrue(text.startswith("OvAttribute.%s(" % type(attr).__name__), text)
        copy = read_back(text)
        self.assertIs(type(copy), type(attr))
        self.assertEqual(copy, attr)
        self.assertEqual(copy.getHash(), attr.getHash())
        self.assertEqual(write_python(copy), text)

    def test_text(self):
        self.assertEqual(write_python(IntAttribute([1, 2, 3, 4], 2)),
                         "OvAttribute.IntAttribute({0.0: [1, 2, 3, 4]}, 2)")
        self.assertEqual(write_python(StringAttribute(["a", "b"])),
                         "OvAttribute.StringAttribute({0.0: ['a', 'b']}, 1)")

    def test_round_trip_of_each_kind(self):
        self.assertRoundTrip(IntAttribute([1, -2, 2 ** 31 - 1, -(2 ** 31)], 2))
        self.assertRoundTrip(FloatAttribute([0.1, 1.0 / 3, -0.0, 1e-45, 3.4028234e38]))
        self.assertRoundTrip(DoubleAttribute([0.1, 1.0 / 3, -0.0, 5e-324, 1e308], 5))
        self.assertRoundTrip(StringAttribute(["", "a b", "x\\y", '"q"']))
        self.assertRoundTrip(IntAttribute(5))
        self.assertRoundTrip(DoubleAttribute([]))

    def test_round_trip_of_samples(self):
        self.assertRoundTrip(IntAttribute({0.1: [1, 2], -7.25: [3, 4], 1e10: [5, 6]}, 2))
        self.assertRoundTrip(FloatAttribute({0.3: [0.7], 0.3000001: [0.2], 2: [0.5]}))
        self.assertRoundTrip(StringAttribute({1: ["a"], 2: ["b"]}, 3))
        self.assertRoundTrip(DoubleAttribute({0: [], 1: []}))

    def test_package_names_the_module_types(self):
        for name in ("IntAttribute", "FloatAttribute", "DoubleAttribute", "StringAttribute",
                     "GroupAttribute", "NullAttribute", "Attribute", "DataAttribute",
                     "ConstVector", "GroupBuilder"):
            self.assertIs(getattr(OvAttribute, name), getattr(PyOvAttribute, name))
        self.assertEqual(sorted(OvAttribute.__all__),
                         sorted(n for n in dir(OvAttribute) if not n.startswith("_")))


if __name__ == "__main__":
    unittest.main()
