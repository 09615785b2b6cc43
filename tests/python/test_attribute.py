"""Attribute and NullAttribute: construction, comparison and hashing, XML and binary forms, the
hash as text and integer, writePython, and objects that hold no value."""

import os
import StringIO
import sys
import unittest

import OvAttribute
import PyOvAttribute
from PyOvAttribute import (Attribute, DataAttribute, DoubleAttribute, FloatAttribute,
                           GroupAttribute, IntAttribute, NullAttribute, StringAttribute)
import _ovattr_testext as testext
from ovtest_support import RefcountTestCase, null_attribute_objects

NOT_VALID_XML = "Given string is not valid OvAttribute XML"
PARSE_BINARY_TYPE = "parseBinary argument must be a PyByteArray or PyString."
NOT_VALID_BINARY = "binary representation does not parse to a valid OvAttribute"
NO_BINARY = "could not getBinary representation of OvAttribute"


class MyInt(IntAttribute):
    pass


def sample_attributes():
    """Attributes of every kind, pairwise different."""
    return [
        NullAttribute(),
        IntAttribute(7),
        IntAttribute([1, 2, 3, 4], 2),
        IntAttribute({0.0: [1, 2], 0.5: [3, 4]}),
        FloatAttribute(1.5),
        FloatAttribute([0.1, float("inf"), float("-inf"), -0.0]),
        DoubleAttribute(0.1),
        DoubleAttribute([1e300, -2.5, float("nan")]),
        StringAttribute("hello"),
        StringAttribute(["a", "", "b c", "\xff\x01<&>\"'"]),
        GroupAttribute([("a", IntAttribute(1)), ("b", StringAttribute("x"))]),
        GroupAttribute([("inner", GroupAttribute([("n", NullAttribute())], False))]),
        GroupAttribute(),
    ]


def expected_hash(attribute):
    """The hash slot's rule: the low 32 bits of the first hash word, sign-extended; -1 is -2."""
    low = attribute.getHash64() & 0xFFFFFFFF
    if low >= 1 << 31:
        low -= 1 << 32
    return -2 if low == -1 else low


class AttributeConstructionTest(unittest.TestCase):

    def test_attribute_refuses_construction(self):
        for args, kwargs in (((), {}), ((1,), {"x": 2}), ((None, None), {})):
            with self.assertRaises(TypeError) as cm:
                Attribute(*args, **kwargs)
            self.assertEqual(str(cm.exception), "Cannot construct abstract Attribute directly.")

    def test_subclass_without_initialiser_refuses_construction(self):
        class Sub(Attribute):
            pass
        with self.assertRaises(TypeError) as cm:
            Sub()
        self.assertEqual(str(cm.exception), "Cannot construct abstract Attribute directly.")

    def test_initialiser_called_again_on_a_live_object_leaves_it_without_value(self):
        attribute = IntAttribute(3)
        with self.assertRaises(TypeError) as cm:
            Attribute.__init__(attribute)
        self.assertEqual(str(cm.exception), "Cannot construct abstract Attribute directly.")
        with self.assertRaises(TypeError) as cm:
            attribute.getHash()
        self.assertEqual(str(cm.exception), "Invalid attr")
        self.assertEqual(testext.unwrap(attribute), (False, False))


class NullAttributeTest(unittest.TestCase):

    def test_accepts_and_ignores_any_arguments(self):
        for args, kwargs in (((), {}), ((5,), {}), ((), {"a": 1}), ((1, "x", None), {"b": []})):
            null = NullAttribute(*args, **kwargs)
            self.assertIs(type(null), NullAttribute)
            self.assertEqual(testext.type_tag(null), 0)

    def test_all_null_attributes_are_equal(self):
        self.assertEqual(NullAttribute(), NullAttribute(1))
        self.assertEqual(NullAttribute().getHash(), NullAttribute(a=2).getHash())
        self.assertEqual(hash(NullAttribute()), hash(NullAttribute()))

    def test_second_initialisation_keeps_a_null_attribute(self):
        null = NullAttribute()
        before = null.getHash()
        null.__init__(1, 2)
        self.assertEqual(null.getHash(), before)

    def test_subclass(self):
        class MyNull(NullAttribute):
            pass
        null = MyNull(3)
        self.assertEqual(null, NullAttribute())
        self.assertIs(type(testext.rewrap(null)), NullAttribute)

    def test_has_no_methods_of_its_own(self):
        self.assertEqual([n for n in NullAttribute.__dict__ if not n.startswith("__")], [])


class CompareAndHashTest(RefcountTestCase):

    def test_equal_values_compare_and_hash_equal(self):
        pairs = [(IntAttribute([1, 2, 3, 4], 2), IntAttribute((1, 2, 3, 4), 2)),
                 (StringAttribute("x"), StringAttribute(["x"])),
                 (IntAttribute(5), MyInt(5)),
                 (MyInt([1, 2]), testext.rewrap(MyInt([1, 2])))]
        for a, b in pairs:
            self.assertEqual(a, b)
            self.assertFalse(a != b)
            self.assertEqual(cmp(a, b), 0)
            self.assertTrue(a <= b and a >= b and not a < b and not a > b)
            self.assertEqual(hash(a), hash(b))

    def test_different_values_order_by_first_hash_word(self):
        attributes = sample_attributes()
        for a in attributes:
            for b in attributes:
                expected = cmp(a.getHash64(), b.getHash64())
                self.assertEqual(cmp(a, b), expected, (a.getHash(), b.getHash()))
                self.assertEqual(a == b, expected == 0)
                self.assertEqual(a < b, expected < 0)
        self.assertEqual([x.getHash64() for x in sorted(attributes)],
                         sorted(x.getHash64() for x in attributes))

    def test_hash_is_the_low_word_of_the_first_hash_word(self):
        for attribute in sample_attributes():
            self.assertEqual(hash(attribute), expected_hash(attribute), attribute.getHash())

    def test_dictionary_keys_and_sets(self):
        table = {IntAttribute([1, 2]): "ints", StringAttribute("s"): "string",
                 NullAttribute(): "null"}
        self.assertEqual(table[MyInt([1, 2])], "ints")
        self.assertEqual(table[StringAttribute(["s"])], "string")
        self.assertEqual(table[NullAttribute(9)], "null")
        self.assertNotIn(IntAttribute([2, 1]), table)
        self.assertEqual(len(set([IntAttribute(1), MyInt(1), IntAttribute(2)])), 2)

    def test_attributes_and_other_objects(self):
        attribute = IntAttribute(1)
        for other in (1, 1.0, "x", None, [], (), {}, object(), PyOvAttribute.GroupBuilder()):
            self.assertFalse(attribute == other, repr(other))
            self.assertFalse(other == attribute, repr(other))
            self.assertTrue(attribute != other, repr(other))
            cmp(attribute, other)  # some order, and no error
        self.assertNotIn(attribute, [1, "x", None])

    def test_compare_slot_with_a_foreign_object_answers_less(self):
        attribute = IntAttribute(1)
        for other in (1, "x", None, PyOvAttribute.GroupBuilder()):
            self.assertEqual(testext.compare_slot(attribute, other), -1)
        self.assertEqual(testext.compare_slot(attribute, MyInt(1)), 0)

    def test_compare_slot_does_not_trust_a_borrowed_class(self):
        class Impostor(object):
            __class__ = IntAttribute
        impostor = Impostor()
        self.assertTrue(isinstance(impostor, Attribute))
        attribute = IntAttribute(1)
        # Compared as the invalid handle, whose first hash word is 0.
        self.assertEqual(testext.compare_slot(attribute, impostor),
                         cmp(attribute.getHash64(), 0))

    def test_comparison_keeps_reference_counts(self):
        a, b = IntAttribute(1), IntAttribute(2)
        self.callKeepingRefcounts([a, b], cmp, a, b)
        self.callKeepingRefcounts([a, b], lambda: a == b)
        self.callKeepingRefcounts([a], hash, a)


class HashMethodsTest(unittest.TestCase):

    def test_get_hash_is_32_lower_case_hex_digits(self):
        for attribute in sample_attributes():
            text = attribute.getHash()
            self.assertIs(type(text), str)
            self.assertRegexpMatches(text, r"^[0-9a-f]{32}$")

    def test_get_hash64_is_the_first_word_of_the_text(self):
        for attribute in sample_attributes():
            value = attribute.getHash64()
            self.assertGreaterEqual(value, 0)
            self.assertEqual(value, int(attribute.getHash()[:16], 16))
            # An int where it fits, a long otherwise: never negative.
            self.assertIs(type(value), int if value <= sys.maxint else long)

    def test_hashes_differ_between_values(self):
        hashes = [a.getHash() for a in sample_attributes()]
        self.assertEqual(len(set(hashes)), len(hashes))

    def test_top_bit_gives_a_positive_long(self):
        found = [a for a in (IntAttribute(i) for i in range(200)) if a.getHash64() >> 63]
        self.assertTrue(found, "no hash with its top bit set among 200 values")
        self.assertIs(type(found[0].getHash64()), long)
        self.assertGreater(found[0].getHash64(), sys.maxint)


class XmlTest(RefcountTestCase):

    def test_round_trip_gives_the_same_value_and_type(self):
        for attribute in sample_attributes():
            text = attribute.getXML()
            self.assertIs(type(text), str)
            parsed = Attribute.parseXML(text)
            self.assertIs(type(parsed), type(attribute))
            self.assertEqual(parsed.getHash(), attribute.getHash(), text)

    def test_parsed_subclass_value_comes_back_as_the_module_type(self):
        parsed = Attribute.parseXML(MyInt([4, 5]).getXML())
        self.assertIs(type(parsed), IntAttribute)
        self.assertEqual(parsed, MyInt([4, 5]))

    def test_parse_through_any_attribute_type_and_unicode(self):
        text = IntAttribute(3).getXML()
        self.assertEqual(GroupAttribute.parseXML(text), IntAttribute(3))
        self.assertEqual(NullAttribute().parseXML(unicode(text)), IntAttribute(3))

    def test_parse_keeps_reference_counts(self):
        text = StringAttribute(["x"]).getXML()
        parsed, error = self.callKeepingRefcounts([text], Attribute.parseXML, text)
        self.assertIsNone(error)
        self.assertEqual(sys.getrefcount(parsed), 2)
        self.callKeepingRefcounts([text], Attribute.parseXML, text[:-3])

    def test_refused_text_raises_value_error(self):
        for text in ("", "not xml", "<", "<Attribute", "<unknown/>", "\xff\xfe",
                     "<?xml version='1.0'?>"):
            with self.assertRaises(ValueError) as cm:
                Attribute.parseXML(text)
            self.assertEqual(str(cm.exception), NOT_VALID_XML, repr(text))

    def test_truncated_text_raises_value_error(self):
        text = GroupAttribute([("a", IntAttribute([1, 2])), ("b", StringAttribute("s"))]
                              ).getXML().rstrip()
        # Every prefix lacks at least the end of the root element.
        for end in range(len(text)):
            with self.assertRaises(ValueError) as cm:
                Attribute.parseXML(text[:end])
            self.assertEqual(str(cm.exception), NOT_VALID_XML, repr(text[:end]))

    def test_argument_errors(self):
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(0 given\)$"):
            Attribute.parseXML()
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(2 given\)$"):
            Attribute.parseXML("a", "b")
        with self.assertRaisesRegexp(TypeError, r"^argument 1 must be string, not int$"):
            Attribute.parseXML(1)
        with self.assertRaisesRegexp(TypeError, r"^argument 1 must be string without null bytes"):
            Attribute.parseXML("<a>\0</a>")
        with self.assertRaisesRegexp(TypeError, r"^argument 1 must be string, not bytearray$"):
            Attribute.parseXML(bytearray("<a/>"))


class BinaryTest(RefcountTestCase):

    def test_get_binary_is_a_bytearray(self):
        for attribute in sample_attributes():
            data = attribute.getBinary()
            self.assertIs(type(data), bytearray)
            self.assertTrue(len(data) > 0)

    def test_round_trip_through_bytearray_and_str(self):
        class MyBytes(bytearray):
            pass

        class MyStr(str):
            pass
        for attribute in sample_attributes():
            data = attribute.getBinary()
            for form in (data, str(data), MyBytes(data), MyStr(str(data))):
                parsed = Attribute.parseBinary(form)
                self.assertIs(type(parsed), type(attribute))
                self.assertEqual(parsed.getHash(), attribute.getHash())

    def test_subclass_value_comes_back_as_the_module_type(self):
        parsed = Attribute.parseBinary(MyInt([9]).getBinary())
        self.assertIs(type(parsed), IntAttribute)

    def test_every_truncation_is_refused(self):
        data = GroupAttribute([("a", IntAttribute([1, 2])), ("s", StringAttribute("xy"))]
                              ).getBinary()
        for end in range(len(data)):
            with self.assertRaises(TypeError) as cm:
                Attribute.parseBinary(data[:end])
            self.assertEqual(str(cm.exception), NOT_VALID_BINARY, end)

    def test_refused_bytes(self):
        for data in (bytearray(), "", "garbage", bytearray("\0" * 64), "\xff" * 100):
            with self.assertRaises(TypeError) as cm:
                Attribute.parseBinary(data)
            self.assertEqual(str(cm.exception), NOT_VALID_BINARY, repr(data))

    def test_refused_argument_types(self):
        for data in (u"abc", u"", [1, 2], (), None, 5, buffer("abc"), memoryview("abc"),
                     NullAttribute()):
            with self.assertRaises(TypeError) as cm:
                Attribute.parseBinary(data)
            self.assertEqual(str(cm.exception), PARSE_BINARY_TYPE, repr(data))

    def test_argument_count(self):
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(0 given\)$"):
            Attribute.parseBinary()
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(2 given\)$"):
            Attribute.parseBinary("", "")

    def test_reference_counts(self):
        attribute = IntAttribute([1, 2, 3])
        data, _ = self.callKeepingRefcounts([attribute], attribute.getBinary)
        self.assertEqual(sys.getrefcount(data), 2)
        parsed, error = self.callKeepingRefcounts([data], Attribute.parseBinary, data)
        self.assertIsNone(error)
        self.assertEqual(sys.getrefcount(parsed), 2)
        text = str(data)
        self.callKeepingRefcounts([text], Attribute.parseBinary, text)

    def test_reference_counts_on_refusal(self):
        for data in (bytearray("xx"), "xx", u"xx", [1]):
            _, error = self.callKeepingRefcounts([data], Attribute.parseBinary, data)
            self.assertIs(type(error), TypeError)

    def test_binary_holds_nul_bytes(self):
        data = IntAttribute([0, 0, 0]).getBinary()
        self.assertIn(0, list(data))


class WritePythonTest(RefcountTestCase):

    class File(object):
        def __init__(self):
            self.writes = []

        def write(self, text):
            self.writes.append(text)

    def test_writes_the_expression_once(self):
        attribute = IntAttribute({0.0: [1, 2], 0.5: [3, 4]}, 2)
        out = self.File()
        self.assertIsNone(attribute.writePython(out))
        expected = "OvAttribute.IntAttribute(%s, %s)" % (repr(attribute.getSamples()),
                                                         repr(attribute.getTupleSize()))
        self.assertEqual(out.writes, [expected])

    def test_every_data_kind_reads_back(self):
        for attribute in (IntAttribute([1, 2, 3, 4], 2), FloatAttribute(0.1),
                          DoubleAttribute({0.25: [1.5], 0.75: [2.5]}), StringAttribute(["a", "b"]),
                          MyInt(4)):
            out = self.File()
            attribute.writePython(out)
            self.assertEqual(len(out.writes), 1)
            text = out.writes[0]
            name = type(attribute).__name__
            self.assertTrue(text.startswith("OvAttribute.%s(" % name), text)
            namespace = type("OvAttribute", (), {name: type(attribute)})
            self.assertEqual(eval(text, {"OvAttribute": namespace}), attribute, text)

    def test_null_attribute_raises_from_the_script_and_writes_nothing(self):
        out = self.File()
        with self.assertRaises(AttributeError) as cm:
            NullAttribute().writePython(out)
        self.assertIn("getSamples", str(cm.exception))
        self.assertEqual(out.writes, [])

    def test_errors_of_the_file_pass_through(self):
        class Boom(Exception):
            pass

        class Failing(object):
            def write(self, text):
                raise Boom(text)
        with self.assertRaises(Boom):
            IntAttribute(1).writePython(Failing())
        with self.assertRaises(AttributeError):
            IntAttribute(1).writePython(5)

    def test_read_python_builds_without_running_the_text(self):
        group = GroupAttribute([("a.'b\"", FloatAttribute([float("inf"), -0.0, 0.1])),
                                ("s", StringAttribute({-1.5: ["x y"], 2.0: ["\xff"]}, 1)),
                                ("g", GroupAttribute([("d", DoubleAttribute([float("nan")]))],
                                                     False))])
        out = StringIO.StringIO()
        group.writePython(out)
        self.assertEqual(OvAttribute.readPython(out.getvalue()), group)
        self.assertEqual(OvAttribute.readPython(" OvAttribute.IntAttribute({-1.0: [-2]}, -3)\n"),
                         IntAttribute({-1.0: [-2]}, -3))
        payload = "'+str(__import__('os').environ.__setitem__('OVATTR_RAN', '1'))+'"
        out = StringIO.StringIO()
        StringAttribute([payload]).writePython(out)
        refused = [
            (out.getvalue(), "BinOp where a literal belongs"),
            ("__import__('os').system('true')", "where an OvAttribute call belongs"),
            ("OvAttribute.IntAttribute(x, 1)", "Name where a literal belongs"),
            ("OvAttribute.IntAttribute({0.0: [1]}, tupleSize=1)", "keyword or star"),
            ("OvAttribute.IntAttribute(*[{0.0: [1]}, 1])", "keyword or star"),
            ("OvAttribute.Util({0.0: [1]}, 1)", "OvAttribute.Util with 2 arguments"),
            ("OvAttribute.IntAttribute({0.0: [1]})", "IntAttribute with 1 arguments"),
            ("OvAttribute.IntAttribute({0.0: [1j]}, 1)", "a literal of type complex"),
            ("OvAttribute.IntAttribute({0.0: [-'a']}, 1)", "a sign before something"),
            ("OvAttribute.IntAttribute([1], 1)", "takes a dictionary of samples"),
            ("OvAttribute.IntAttribute({0.0: ['a']}, 1)", "TypeError: Requires an int"),
            ("OvAttribute.IntAttribute({0.0: [2**40]}, 1)", "BinOp"),
            ("OvAttribute.IntAttribute({0.0: [1099511627776]}, 1)", "OverflowError"),
            ("OvAttribute.GroupAttribute([('a', 1)], True)", "Num where an OvAttribute call"),
            ("OvAttribute.GroupAttribute([('a',)], True)", "not a (name, attribute) pair"),
            ("OvAttribute.GroupAttribute([], 1)", "not True or False"),
            ("OvAttribute.GroupAttribute([(1, OvAttribute.GroupAttribute([], True))], True)",
             "child name that is not a string"),
            ("OvAttribute.GroupAttribute([" * 400 + "]" * 400, "not attribute text"),
            ("OvAttribute.IntAttribute({0.0: [1]}, 1) + 1", "BinOp where an OvAttribute call"),
            ("OvAttribute.IntAttribute(", "SyntaxError"),
            ("lambda: 1", "Lambda where an OvAttribute call"),
        ]
        for text, message in refused:
            with self.assertRaises(ValueError) as cm:
                OvAttribute.readPython(text)
            self.assertIn(message, str(cm.exception), text[:80])
        self.assertRaises(ValueError, OvAttribute.readPython, 5)
        self.assertNotIn("OVATTR_RAN", os.environ)

    def test_the_script_sees_only_its_own_names(self):
        seen = []

        class Spy(object):
            def write(self, text):
                frame = sys._getframe(1)  # pylint: disable=protected-access
                seen.append(sorted(frame.f_globals))
        IntAttribute(1).writePython(Spy())
        self.assertEqual(seen, [["__builtins__", "_theAttr", "_theFile"]])

    def test_argument_errors(self):
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(0 given\)$"):
            IntAttribute(1).writePython()
        with self.assertRaisesRegexp(TypeError, r"^function takes exactly 1 argument \(2 given\)$"):
            IntAttribute(1).writePython(self.File(), self.File())

    def test_reference_counts(self):
        attribute = IntAttribute([1, 2])
        out = self.File()
        _, error = self.callKeepingRefcounts([attribute, out], attribute.writePython, out)
        self.assertIsNone(error)
        null = NullAttribute()
        _, error = self.callKeepingRefcounts([null, out], null.writePython, out)
        self.assertIs(type(error), AttributeError)


class NoValueTest(RefcountTestCase):
    """Objects made by __new__ alone hold no value: every method answers with an error, the
    slots answer as for the invalid handle, and nothing crashes."""

    def test_methods_raise(self):
        for obj in null_attribute_objects():
            for method in ("getXML", "getHash", "getHash64"):
                with self.assertRaises(TypeError) as cm:
                    getattr(obj, method)()
                self.assertEqual(str(cm.exception), "Invalid attr", method)
            with self.assertRaises(TypeError) as cm:
                obj.getBinary()
            self.assertEqual(str(cm.exception), NO_BINARY)

    def test_write_python_raises_from_the_script(self):
        for obj in null_attribute_objects():
            out = WritePythonTest.File()
            self.assertRaises((TypeError, AttributeError), obj.writePython, out)
            if not isinstance(obj, GroupAttribute):  # groups write their text in pieces
                self.assertEqual(out.writes, [])

    def test_hash_and_compare_as_the_invalid_handle(self):
        objects = null_attribute_objects()
        for obj in objects:
            self.assertEqual(hash(obj), 0)
            self.assertEqual(obj, objects[0])
            for value in (IntAttribute(1), NullAttribute()):
                self.assertEqual(cmp(obj, value), cmp(0, value.getHash64()))
                self.assertEqual(cmp(value, obj), cmp(value.getHash64(), 0))

    def test_exported_functions_see_no_value(self):
        for obj in null_attribute_objects():
            self.assertEqual(testext.unwrap(obj), (False, False))
            self.assertIsNone(testext.rewrap(obj))

    def test_usable_as_group_child_is_refused(self):
        with self.assertRaises(TypeError):
            GroupAttribute([("a", NullAttribute.__new__(NullAttribute))])

    def test_destroying_them_is_fine(self):
        for _ in range(1000):
            null_attribute_objects()
        cls = IntAttribute
        obj = cls.__new__(cls)
        self.assertEqual(sys.getrefcount(obj), 2)
        del obj


if __name__ == "__main__":
    unittest.main()
