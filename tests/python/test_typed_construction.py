"""Construction of IntAttribute, FloatAttribute, DoubleAttribute and StringAttribute: the
scalar, sequence and dictionary forms, the element conversions, every refusal with its exact
message, the choices for values that cannot be converted, and reference counts."""

import math
import struct
import sys
import unittest

import PyOvAttribute
from PyOvAttribute import DoubleAttribute, FloatAttribute, IntAttribute, StringAttribute

from ovtest_support import RefcountTestCase

INT_MESSAGE = "Requires an int, dict or sequence"
FLOAT_MESSAGE = "Requires an float, dict or sequence"
STRING_MESSAGE = "Requires a string, dict or sequence"

# type, message when no form fits, two sample values of the kind
KINDS = [
    (IntAttribute, INT_MESSAGE, (7, -3)),
    (FloatAttribute, FLOAT_MESSAGE, (0.5, -2.25)),
    (DoubleAttribute, FLOAT_MESSAGE, (0.1, -1e300)),
    (StringAttribute, STRING_MESSAGE, ("abc", "")),
]


def f32(value):
    """The nearest 32-bit float, widened back: what a FloatAttribute and a sample time hold."""
    return struct.unpack("f", struct.pack("f", value))[0]


def values(attr):
    """The values of the sample nearest to time 0, as a list."""
    return list(attr.getData())


def samples(attr):
    """{time: list of values} of every sample."""
    return dict((t, list(v)) for t, v in attr.getSamples().items())


class NumberLike(object):
    """A number that is not an int, long or float: converted through __int__ / __float__."""

    def __init__(self, value):
        self.value = value

    def __int__(self):
        return int(self.value)

    def __long__(self):
        return long(self.value)

    def __float__(self):
        return float(self.value)


class Raising(object):
    """A number whose own conversions raise."""

    def __int__(self):
        raise ArithmeticError("no int for you")

    __long__ = __int__

    def __float__(self):
        raise ArithmeticError("no float for you")


class Sequence(object):
    """A sequence that is neither a list nor a tuple; its items are made on access."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class OldStyleSequence:
    """Old-style instances pass PySequence_Check and PyNumber_Check at once."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class ScalarFormTest(unittest.TestCase):

    def assertSingleValue(self, attr, value):
        self.assertEqual(values(attr), [value])
        self.assertEqual(attr.getNumberOfTimeSamples(), 1)
        self.assertEqual(attr.getSampleTimes(), (0.0,))
        self.assertEqual(attr.getTupleSize(), 1)

    def test_each_kind_makes_one_value(self):
        for kind, _, (value, _) in KINDS:
            self.assertSingleValue(kind(value), value if kind is not FloatAttribute else f32(value))

    def test_tuple_size_is_ignored_for_a_scalar(self):
        self.assertSingleValue(IntAttribute(5, 3), 5)
        self.assertSingleValue(StringAttribute("x", tupleSize=4), "x")

    def test_bool(self):
        self.assertSingleValue(IntAttribute(True), 1)
        self.assertSingleValue(IntAttribute(False), 0)
        self.assertSingleValue(FloatAttribute(True), 1.0)
        self.assertSingleValue(DoubleAttribute(False), 0.0)
        with self.assertRaises(TypeError) as caught:
            StringAttribute(True)
        self.assertEqual(str(caught.exception), STRING_MESSAGE)

    def test_int_kind_truncates_toward_zero(self):
        self.assertSingleValue(IntAttribute(2.9), 2)
        self.assertSingleValue(IntAttribute(-2.9), -2)
        self.assertSingleValue(IntAttribute(NumberLike(41.7)), 41)

    def test_long_and_subclasses(self):
        self.assertSingleValue(IntAttribute(12L), 12)
        self.assertSingleValue(IntAttribute(-(2 ** 31)), -(2 ** 31))
        self.assertSingleValue(IntAttribute(long(2 ** 31 - 1)), 2 ** 31 - 1)

        class MyInt(int):
            def __int__(self):
                return 99  # not used: an int's own value is taken

        class MyLong(long):
            pass

        self.assertSingleValue(IntAttribute(MyInt(3)), 3)
        self.assertSingleValue(IntAttribute(MyLong(4)), 4)

    def test_float_kinds(self):
        self.assertSingleValue(FloatAttribute(3), 3.0)
        self.assertSingleValue(FloatAttribute(0.1), f32(0.1))
        self.assertNotEqual(f32(0.1), 0.1)
        self.assertSingleValue(DoubleAttribute(0.1), 0.1)
        self.assertSingleValue(DoubleAttribute(2 ** 70), float(2 ** 70))
        self.assertSingleValue(FloatAttribute(NumberLike(1.5)), 1.5)

        class MyFloat(float):
            pass

        self.assertSingleValue(DoubleAttribute(MyFloat(0.3)), 0.3)

    def test_float_beyond_range_becomes_infinity(self):
        self.assertSingleValue(FloatAttribute(1e39), float("inf"))
        self.assertSingleValue(FloatAttribute(-1e39), float("-inf"))
        self.assertSingleValue(DoubleAttribute(1e39), 1e39)

    def test_nan_values_are_kept(self):
        for kind in (FloatAttribute, DoubleAttribute):
            self.assertTrue(math.isnan(values(kind(float("nan")))[0]))

    def test_string_scalar(self):
        self.assertSingleValue(StringAttribute("abc"), "abc")
        self.assertSingleValue(StringAttribute(""), "")

        class MyStr(str):
            pass

        self.assertSingleValue(StringAttribute(MyStr("sub")), "sub")

    def test_string_ends_at_first_nul(self):
        self.assertSingleValue(StringAttribute("ab\0cd"), "ab")
        self.assertEqual(values(StringAttribute(["x\0y", "\0"])), ["x", ""])

    def test_a_str_is_no_number(self):
        for kind, message, _ in KINDS[:3]:
            with self.assertRaises(TypeError) as caught:
                kind("12")
            self.assertEqual(str(caught.exception), message)

    def test_objects_of_no_form(self):
        for kind, message, _ in KINDS:
            for data in (None, object(), len):
                with self.assertRaises(TypeError) as caught:
                    kind(data)
                self.assertEqual(str(caught.exception), message)


class SequenceFormTest(unittest.TestCase):

    def test_each_kind_from_list_and_tuple(self):
        for kind, _, pair in KINDS:
            expected = list(pair) if kind is not FloatAttribute else [f32(v) for v in pair]
            self.assertEqual(values(kind(list(pair))), expected)
            self.assertEqual(values(kind(tuple(pair))), expected)

    def test_tuple_size_is_passed_unchanged(self):
        a = IntAttribute([1, 2, 3, 4], 2)
        self.assertEqual((a.getTupleSize(), a.getNumberOfValues(), a.getNumberOfTuples()),
                         (2, 4, 2))
        self.assertEqual(values(a), [1, 2, 3, 4])
        a = IntAttribute([1, 2, 3], 2)
        self.assertEqual((a.getTupleSize(), a.getNumberOfValues()), (2, 3))
        for size in (0, -1, -(2 ** 40), 2 ** 40):
            a = IntAttribute([1, 2, 3], tupleSize=size)
            self.assertEqual(a.getTupleSize(), size)
            self.assertEqual(a.getNumberOfValues(), 3)

    def test_empty_sequence(self):
        for kind, _, _ in KINDS:
            a = kind([])
            self.assertEqual(a.getNumberOfValues(), 0)
            self.assertEqual(a.getNumberOfTimeSamples(), 1)
            self.assertEqual(values(a), [])

    def test_other_sequences(self):
        self.assertEqual(values(IntAttribute(xrange(3))), [0, 1, 2])
        self.assertEqual(values(IntAttribute(Sequence([4, 5]))), [4, 5])
        self.assertEqual(values(IntAttribute(bytearray("AB"))), [65, 66])
        self.assertEqual(values(StringAttribute(Sequence(["p", "q"]))), ["p", "q"])

    def test_old_style_sequence_is_read_as_a_sequence(self):
        # It is also a "number" whose conversion fails; it must not stop there.
        self.assertEqual(values(IntAttribute(OldStyleSequence([1, 2]))), [1, 2])
        self.assertEqual(values(DoubleAttribute(OldStyleSequence([0.5]))), [0.5])

    def test_unicode(self):
        self.assertEqual(values(IntAttribute(u"")), [])
        for data in (u"abc", [u"abc"], ["a", u"b"]):
            with self.assertRaises(TypeError) as caught:
                StringAttribute(data)
            self.assertEqual(str(caught.exception), STRING_MESSAGE)

    def test_mixed_numbers(self):
        self.assertEqual(values(IntAttribute([1, 2L, True, 3.7, NumberLike(-8.2)])),
                         [1, 2, 1, 3, -8])
        self.assertEqual(values(DoubleAttribute([1, 2L, True, 0.25, NumberLike(3)])),
                         [1.0, 2.0, 1.0, 0.25, 3.0])
        self.assertEqual(values(FloatAttribute([0.1, 1e39, 16777217])),
                         [f32(0.1), float("inf"), 16777216.0])

    def test_values_are_rounded_to_32_bit_floats(self):
        data = [0.1, 1.0 / 3, 2.0 ** -149, 2.0 ** -150, 3.4028235e38]
        self.assertEqual(values(FloatAttribute(data)), [f32(v) for v in data])
        self.assertEqual(values(DoubleAttribute(data)), data)

    def test_nested_sequences_are_not_flattened(self):
        with self.assertRaises(TypeError) as caught:
            IntAttribute([[1, 2], [3, 4]])
        self.assertEqual(str(caught.exception), INT_MESSAGE)

    def test_an_element_of_another_kind(self):
        for kind, message, data in [(StringAttribute, STRING_MESSAGE, ["a", 1]),
                                    (IntAttribute, INT_MESSAGE, [1, "2"]),
                                    (FloatAttribute, FLOAT_MESSAGE, [1.0, None]),
                                    (DoubleAttribute, FLOAT_MESSAGE, (1.0, [2.0]))]:
            with self.assertRaises(TypeError) as caught:
                kind(data)
            self.assertEqual(str(caught.exception), message)

    def test_a_mapping_that_is_a_sequence(self):
        class Mapping(object):
            def __getitem__(self, i):
                if i >= 2:
                    raise IndexError(i)
                return i * 10

        self.assertEqual(values(IntAttribute(Mapping())), [0, 10])

    def test_sequence_that_lies_about_its_length(self):
        class Liar(Sequence):
            def __len__(self):
                return 1000

        self.assertEqual(values(IntAttribute(Liar([1, 2, 3]))), [1, 2, 3])

    def test_sequence_whose_items_cannot_be_read(self):
        class Broken(object):
            def __len__(self):
                return 2

            def __getitem__(self, i):
                raise KeyError("unreadable")

        with self.assertRaises(KeyError):
            IntAttribute(Broken())

    def test_strings_kept_alive_only_by_the_read_sequence(self):
        # Each item is a new str that nothing but the read list holds.
        class Fresh(object):
            def __len__(self):
                return 3

            def __getitem__(self, i):
                if i >= 3:
                    raise IndexError(i)
                return "item-%d-" % i + "x" * 100

        self.assertEqual(values(StringAttribute(Fresh())),
                         ["item-%d-" % i + "x" * 100 for i in range(3)])
        self.assertEqual(values(StringAttribute({0.0: Fresh()})),
                         ["item-%d-" % i + "x" * 100 for i in range(3)])

    def test_large_sequences(self):
        # Sizes on both sides of the thresholds where the temporary arrays change allocator.
        for count in (50000, 262144, 262145, 524288, 700000):
            data = range(-count // 2, count - count // 2)
            self.assertEqual(values(IntAttribute(data)), data)
        doubles = [i * 0.5 for i in xrange(300000)]
        self.assertEqual(values(DoubleAttribute(doubles)), doubles)
        strings = ["v%d" % (i % 1000) for i in xrange(300000)]
        self.assertEqual(values(StringAttribute(strings)), strings)


class DictionaryFormTest(unittest.TestCase):

    def test_times_ascending_with_their_samples(self):
        a = IntAttribute({1.0: [1, 2], 0.5: [3, 4]})
        self.assertEqual(a.getSampleTimes(), (0.5, 1.0))
        self.assertEqual(samples(a), {0.5: [3, 4], 1.0: [1, 2]})
        self.assertEqual((a.getNumberOfValues(), a.getTupleSize()), (2, 1))

    def test_each_kind(self):
        for kind, _, (x, y) in KINDS:
            a = kind({2: [x], -1: (y,)}, 1)
            expected_x, expected_y = (f32(x), f32(y)) if kind is FloatAttribute else (x, y)
            self.assertEqual(samples(a), {-1.0: [expected_y], 2.0: [expected_x]})

    def test_tuple_size(self):
        a = DoubleAttribute({0: [1, 2, 3, 4, 5, 6]}, tupleSize=3)
        self.assertEqual((a.getTupleSize(), a.getNumberOfTuples()), (3, 2))

    def test_keys_of_every_number_kind(self):
        a = IntAttribute({0: [1], 1L: [2], 2.5: [3], True: [4], NumberLike(7): [5]})
        # True and 1L are equal dictionary keys: only one of them is in the dictionary.
        self.assertEqual(sorted(samples(a).keys()), [0.0, 1.0, 2.5, 7.0])

    def test_times_are_rounded_to_32_bit_floats(self):
        a = FloatAttribute({0.1: [1.0], 1e39: [2.0], -1e39: [3.0]})
        self.assertEqual(a.getSampleTimes(), (float("-inf"), f32(0.1), float("inf")))
        self.assertEqual(samples(a)[0.10000000149011612], [1.0])

    def test_keys_that_round_to_one_time_share_a_sample(self):
        data = {1: [1, 2], 1.00000001: [3, 4]}
        a = IntAttribute(data)
        self.assertEqual(a.getSampleTimes(), (1.0,))
        # Concatenated in dictionary iteration order.
        self.assertEqual(values(a), [v for key in data for v in data[key]])

    def test_merged_sample_takes_part_in_the_length_rule(self):
        with self.assertRaises(TypeError) as caught:
            IntAttribute({1: [1], 1.00000001: [2], 2: [3]})
        self.assertEqual(str(caught.exception), INT_MESSAGE)
        a = IntAttribute({1: [1], 1.00000001: [2], 2: [3, 4]})
        self.assertEqual(samples(a)[2.0], [3, 4])
        self.assertEqual(sorted(samples(a)[1.0]), [1, 2])

    def test_several_merged_samples_among_others(self):
        data = {0.5: [1, 2], 0.50000001: [3, 4], 1: [5, 6, 7, 8], 2: [9, 10],
                2.0000001: [11, 12]}
        a = IntAttribute(data, 2)
        self.assertEqual(a.getSampleTimes(), (0.5, 1.0, 2.0))
        got = samples(a)
        self.assertEqual(got[1.0], [5, 6, 7, 8])
        for time, keys in ((0.5, (0.5, 0.50000001)), (2.0, (2, 2.0000001))):
            ordered = [k for k in data if k in keys]
            self.assertEqual(got[time], data[ordered[0]] + data[ordered[1]])

    def test_large_samples(self):
        data = dict((t, [float(t * 1000000 + i) for i in xrange(200000)]) for t in range(4))
        data[3.00000001] = []  # rounds onto time 3 and adds nothing to it
        a = DoubleAttribute(data)
        self.assertEqual(samples(a), dict((float(t), data[t]) for t in range(4)))
        strings = dict((t, ["s%d" % (i + t) for i in xrange(100000)]) for t in range(3))
        self.assertEqual(samples(StringAttribute(strings)),
                         dict((float(t), v) for t, v in strings.items()))

    def test_samples_without_values(self):
        a = IntAttribute({0: [], 1: []})
        self.assertEqual(a.getNumberOfTimeSamples(), 2)
        self.assertEqual(a.getNumberOfValues(), 0)
        self.assertEqual(samples(a), {0.0: [], 1.0: []})

    def test_dict_subclass(self):
        class Ordered(dict):
            pass

        self.assertEqual(samples(IntAttribute(Ordered({3: [1]}))), {3.0: [1]})

    def test_string_samples(self):
        self.assertEqual(samples(StringAttribute({0: ["abc"]})), {0.0: ["abc"]})
        with self.assertRaises(TypeError) as caught:
            StringAttribute({0: "abc"})
        self.assertEqual(str(caught.exception), STRING_MESSAGE)

    def test_refusals(self):
        bad = [{}, {0.0: 1}, {"a": [1]}, {None: [1]}, {0: [1, 2], 1: [3]}, {0: [1], 1: ["x"]},
               {0: "12"}, {0: None}]
        for kind, message, _ in KINDS[:3]:
            for data in bad:
                with self.assertRaises(TypeError) as caught:
                    kind(data)
                self.assertEqual(str(caught.exception), message, data)

    def test_a_dictionary_is_never_read_as_a_sequence(self):
        with self.assertRaises(TypeError):
            IntAttribute({0: 5})

    def test_sample_values_from_any_sequence(self):
        self.assertEqual(samples(IntAttribute({0: xrange(2), 1: Sequence([5, 6])})),
                         {0.0: [0, 1], 1.0: [5, 6]})

    def test_many_samples(self):
        data = dict((t * 0.25, [t, -t]) for t in range(400))
        a = IntAttribute(data, 2)
        self.assertEqual(a.getNumberOfTimeSamples(), 400)
        self.assertEqual(samples(a), dict((f32(k), v) for k, v in data.items()))


class UnconvertibleValueTest(unittest.TestCase):
    """Values of an accepted kind whose own conversion fails: the conversion's own exception
    is reported and nothing is built."""

    def assertFailsWith(self, exception, kind, data):
        with self.assertRaises(exception):
            kind(data)

    def test_integers_outside_32_bits(self):
        for data in (2 ** 31, -(2 ** 31) - 1, 2 ** 40, 2 ** 70, -(2 ** 70)):
            for shape in (data, [1, data], {0: [data]}):
                self.assertFailsWith(OverflowError, IntAttribute, shape)
        with self.assertRaises(OverflowError) as caught:
            IntAttribute([2 ** 31])
        self.assertEqual(str(caught.exception),
                         "value 2147483648 is outside the 32-bit integer range")

    def test_numbers_without_an_integer(self):
        self.assertFailsWith(ValueError, IntAttribute, float("nan"))
        self.assertFailsWith(OverflowError, IntAttribute, [float("inf")])
        self.assertFailsWith(TypeError, IntAttribute, 1j)
        self.assertFailsWith(TypeError, FloatAttribute, [1j])
        self.assertFailsWith(OverflowError, DoubleAttribute, 10 ** 400)
        self.assertFailsWith(OverflowError, FloatAttribute, [10 ** 400])

    def test_conversions_that_raise(self):
        for kind in (IntAttribute, FloatAttribute, DoubleAttribute):
            for shape in (Raising(), [1, Raising()], {0: [Raising()]}):
                with self.assertRaises(ArithmeticError) as caught:
                    kind(shape)
                self.assertIn("for you", str(caught.exception))

    def test_time_keys_that_cannot_be_converted(self):
        self.assertFailsWith(OverflowError, IntAttribute, {10 ** 400: [1]})
        self.assertFailsWith(ArithmeticError, IntAttribute, {Raising(): [1]})
        self.assertFailsWith(TypeError, IntAttribute, {1j: [1]})

    def test_nan_time_key(self):
        with self.assertRaises(ValueError) as caught:
            IntAttribute({float("nan"): [1]})
        self.assertEqual(str(caught.exception), "sample time cannot be NaN")

    def test_infinite_time_keys_are_ordinary_times(self):
        a = IntAttribute({float("inf"): [1], 0: [2]})
        self.assertEqual(a.getSampleTimes(), (0.0, float("inf")))


class ChangedWhileReadTest(unittest.TestCase):
    """Python code run by a conversion that changes what is being read."""

    def test_list_cleared_by_an_item(self):
        data = [1, 2, None, 4]

        class Clearing(object):
            def __int__(self):
                del data[:]
                return 3

            __long__ = __int__

        data[2] = Clearing()
        with self.assertRaises(RuntimeError) as caught:
            IntAttribute(data)
        self.assertEqual(str(caught.exception), "sequence changed size during conversion")

    def test_item_replaced_while_converted(self):
        data = [0, None]

        class Replacing(object):
            def __float__(self):
                data[1] = 9.0  # drops the list's reference to this very object
                return 2.5

        data[1] = Replacing()
        self.assertEqual(values(DoubleAttribute(data)), [0.0, 2.5])

    def test_dictionary_changed_by_a_key(self):
        data = {}

        class Growing(object):
            def __float__(self):
                data[object()] = [0]
                return 1.0

        data[Growing()] = [1]
        with self.assertRaises(RuntimeError) as caught:
            IntAttribute(data)
        self.assertEqual(str(caught.exception), "dictionary changed size during iteration")

    def test_string_lists_emptied_by_a_later_key(self):
        strings = ["s%d" % i + "y" * 50 for i in range(3)]

        class Emptying(object):
            def __float__(self):
                del strings[:]
                return 2.0

        # Whichever order the keys come in, the lists are read only after every key.
        a = StringAttribute({0: strings, Emptying(): []})
        self.assertEqual(samples(a), {0.0: [], 2.0: []})


class InitialiserTest(RefcountTestCase):

    def test_argument_errors(self):
        for kind, _, _ in KINDS:
            for args, kwargs in [((), {}), ((1, 2, 3), {}), ((1,), {"other": 2}),
                                 ((1,), {"tupleSize": "x"}), ((1,), {"attrdata": 1}),
                                 ((), {"tupleSize": 1})]:
                self.assertRaises(TypeError, kind, *args, **kwargs)

    def test_keywords(self):
        a = IntAttribute(tupleSize=2, attrdata=[1, 2])
        self.assertEqual((values(a), a.getTupleSize()), ([1, 2], 2))

    def test_tuple_size_overflowing_64_bits(self):
        self.assertRaises(OverflowError, IntAttribute, [1], 2 ** 64)

    def test_failed_reinit_leaves_no_value(self):
        a = IntAttribute(1)
        with self.assertRaises(TypeError) as caught:
            a.__init__("x")
        self.assertEqual(str(caught.exception), INT_MESSAGE)
        with self.assertRaises(TypeError) as caught:
            a.getData()
        self.assertEqual(str(caught.exception), "Underyling Attribute is invalid.")

    def test_reinit_replaces_the_value(self):
        a = StringAttribute("old")
        a.__init__(["new", "values"])
        self.assertEqual(values(a), ["new", "values"])
        self.assertEqual(a, StringAttribute(["new", "values"]))

    def test_reinit_from_inside_a_conversion(self):
        a = IntAttribute.__new__(IntAttribute)

        class Reentrant(object):
            def __int__(self):
                a.__init__([5, 6])
                return 7

            __long__ = __int__

        a.__init__([Reentrant()])
        self.assertEqual(values(a), [7])

    def test_subclass(self):
        class Mine(IntAttribute):
            pass

        m = Mine([1, 2])
        self.assertIs(type(m), Mine)
        self.assertEqual(values(m), [1, 2])
        self.assertEqual(m, IntAttribute([1, 2]))

    def test_equal_values_from_every_form_are_equal(self):
        self.assertEqual(IntAttribute(3), IntAttribute([3]))
        self.assertEqual(IntAttribute([3]), IntAttribute({0.0: [3]}))
        self.assertEqual(hash(DoubleAttribute((1, 2))), hash(DoubleAttribute({0: [1.0, 2.0]})))
        self.assertNotEqual(IntAttribute([1, 2], 2), IntAttribute([1, 2]))
        self.assertNotEqual(FloatAttribute([1.0]), DoubleAttribute([1.0]))

    def test_reference_counts_of_a_list_and_its_items(self):
        items = [10 ** 6 + i for i in range(5)]
        data = list(items)
        self.callKeepingRefcounts([data] + items, IntAttribute, data, 1)
        strings = ["s%d" % i * 20 for i in range(5)]
        data = list(strings)
        self.callKeepingRefcounts([data] + strings, StringAttribute, data)
        seq = Sequence(strings)
        self.callKeepingRefcounts([seq] + strings, StringAttribute, seq)
        mapping = {0.25: data, 1: list(strings)}
        self.callKeepingRefcounts([mapping, data] + strings, StringAttribute, mapping)

    def test_reference_counts_on_failure(self):
        items = [10 ** 6, "x", Raising()]
        data = list(items)
        _, error = self.callKeepingRefcounts([data] + items, IntAttribute, data)
        self.assertIsInstance(error, TypeError)
        data = [1, Raising()]
        _, error = self.callKeepingRefcounts([data, data[1]], DoubleAttribute, data)
        self.assertIsInstance(error, ArithmeticError)
        key = NumberLike(1.5)
        mapping = {key: [1], 0: [1, 2]}
        _, error = self.callKeepingRefcounts([mapping, key], IntAttribute, mapping)
        self.assertIsInstance(error, TypeError)

    def test_the_object_keeps_no_reference_to_its_input(self):
        data = [1, 2, 3]
        before = sys.getrefcount(data)
        a = IntAttribute(data)
        self.assertEqual(sys.getrefcount(data), before)
        self.assertEqual(sys.getrefcount(a), 2)


if __name__ == "__main__":
    unittest.main()
