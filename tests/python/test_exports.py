"""The module's interface for other compiled modules: the exported symbols of its shared object,
and AttributeFromPyObject, PyAttributeFromAttribute and PyConstVectorFromDataAttribute driven
from the test-only extension module as another compiled module would; the value converters."""

import os
import struct
import subprocess
import sys
import unittest

import PyOvAttribute
from PyOvAttribute import (Attribute, ConstVector, DoubleAttribute, FloatAttribute,
                           GroupAttribute, GroupBuilder, IntAttribute, NullAttribute,
                           StringAttribute)
import _ovattr_testext as testext
from ovtest_support import RefcountTestCase, null_attribute_objects

# Every symbol of ours that the module's shared object may export, by mangled name.
EXPECTED_EXPORTS = set([
    "initPyOvAttribute",
    "_ZN7Tessark13PyOvAttribute2v121AttributeFromPyObjectEP7_object",
    "_ZN7Tessark13PyOvAttribute2v124PyAttributeFromAttributeERKNS_8internal11OvAttribute9AttributeE",
    "_ZN7Tessark13PyOvAttribute2v130PyConstVectorFromDataAttributeERKNS_8internal11OvAttribute"
    "13DataAttributeEf",
    "_ZN7Tessark13PyOvAttribute2v125_tessark_dummy_dll_exportE",
])
# What the linker or a sanitizer adds to any shared object.
TOOLCHAIN_EXPORTS = set(["_init", "_fini", "__bss_start", "_edata", "_end"])
TOOLCHAIN_PREFIXES = ("__odr_asan", "__asan", "__ubsan", "__sanitizer", "__lsan")

KIND_TYPES = [NullAttribute, IntAttribute, FloatAttribute, DoubleAttribute, StringAttribute,
              GroupAttribute]


def defined_dynamic_symbols(path):
    nm = os.environ.get("NM", "nm")
    output = subprocess.check_output([nm, "-D", "--defined-only", "--format=posix", path])
    return set(line.split()[0] for line in output.splitlines() if line.strip())


def ours(symbols):
    return set(s for s in symbols
               if s not in TOOLCHAIN_EXPORTS and not s.startswith(TOOLCHAIN_PREFIXES))


def as_float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


class MyInt(IntAttribute):
    pass


class ExportedSymbolsTest(unittest.TestCase):

    def test_module_exports_exactly_its_interface(self):
        symbols = ours(defined_dynamic_symbols(PyOvAttribute.__file__))
        self.assertEqual(sorted(symbols), sorted(EXPECTED_EXPORTS))

    def test_test_module_exports_only_its_entry_point(self):
        symbols = ours(defined_dynamic_symbols(testext.__file__))
        self.assertEqual(sorted(symbols), ["init_ovattr_testext"])

    def test_dummy_export_links_and_is_zero(self):
        self.assertEqual(testext.dummy_export(), 0)

    def test_one_copy_of_the_module_is_loaded(self):
        # The test module links against the same shared object the interpreter imported: the
        # objects it makes are of the very types registered in PyOvAttribute.
        self.assertIs(type(testext.rewrap(IntAttribute(1))), IntAttribute)


class AttributeFromPyObjectTest(RefcountTestCase):

    def test_attribute_objects_give_their_handle(self):
        for attribute in (IntAttribute(1), MyInt([1, 2]), NullAttribute(), GroupAttribute(),
                          StringAttribute("s"), DoubleAttribute(0.5), FloatAttribute(0.5)):
            self.assertEqual(testext.unwrap(attribute), (True, False))

    def test_other_objects_give_an_invalid_handle_and_no_error(self):
        vector = testext.const_vector(IntAttribute([1, 2]), 0.0)
        for obj in (1, 2L, 1.5, "s", u"s", None, [], (IntAttribute(1),), {}, object(),
                    GroupBuilder(), vector, IntAttribute, Attribute, PyOvAttribute):
            self.assertEqual(testext.unwrap(obj), (False, False), repr(obj))
            self.assertEqual(testext.type_tag(obj), -1)

    def test_objects_without_value_give_an_invalid_handle(self):
        for obj in null_attribute_objects():
            self.assertEqual(testext.unwrap(obj), (False, False))

    def test_kind_of_the_handle(self):
        for tag, attribute in enumerate([NullAttribute(), IntAttribute(1), FloatAttribute(1.0),
                                         DoubleAttribute(1.0), StringAttribute("a"),
                                         GroupAttribute()]):
            self.assertEqual(testext.type_tag(attribute), tag)
        self.assertEqual(testext.type_tag(MyInt(1)), 1)

    def test_leaves_the_reference_count(self):
        for obj in (IntAttribute(1), MyInt(2), "not an attribute"):
            self.callKeepingRefcounts([obj], testext.unwrap, obj)


class PyAttributeFromAttributeTest(RefcountTestCase):

    def test_invalid_handle_gives_none_with_a_new_reference(self):
        before = sys.getrefcount(None)
        results = [testext.wrap_invalid() for _ in range(10)]
        self.assertEqual(results, [None] * 10)
        self.assertEqual(sys.getrefcount(None), before + 10)
        del results
        self.assertEqual(sys.getrefcount(None), before)

    def test_unknown_tag_gives_none_with_a_new_reference(self):
        tags = [6, 7, 255, 2 ** 31 - 1, -1, -2, -2 ** 31]
        before = sys.getrefcount(None)
        results = [testext.wrap_tag(tag) for tag in tags]
        self.assertEqual(results, [None] * len(tags))
        self.assertEqual(sys.getrefcount(None), before + len(tags))

    def test_known_tags_give_the_module_type(self):
        for tag, cls in enumerate(KIND_TYPES):
            obj = testext.wrap_tag(tag)
            self.assertIs(type(obj), cls)
            self.assertEqual(sys.getrefcount(obj), 2)

    def test_subclass_instance_comes_back_as_the_module_type(self):
        source = MyInt([1, 2, 3])
        copy, error = self.callKeepingRefcounts([source], testext.rewrap, source)
        self.assertIsNone(error)
        self.assertIs(type(copy), IntAttribute)
        self.assertIsNot(copy, source)
        self.assertEqual(copy, source)
        self.assertEqual(copy.getHash(), source.getHash())
        self.assertEqual(sys.getrefcount(copy), 2)

    def test_each_kind_round_trips(self):
        for attribute in (NullAttribute(), IntAttribute([1, 2]), FloatAttribute(0.5),
                          DoubleAttribute({0.0: [1.0], 1.0: [2.0]}), StringAttribute("x"),
                          GroupAttribute([("a", IntAttribute(1))], False)):
            copy = testext.rewrap(attribute)
            self.assertIs(type(copy), type(attribute))
            self.assertEqual(copy.getHash(), attribute.getHash())

    def test_wrapping_twice_gives_two_objects_over_one_value(self):
        source = StringAttribute(["a", "b"])
        first, second = testext.rewrap(source), testext.rewrap(source)
        self.assertIsNot(first, second)
        self.assertEqual(first, second)

    def test_wrapped_object_outlives_its_source(self):
        source = IntAttribute([4, 5, 6])
        expected = source.getHash()
        copy = testext.rewrap(source)
        del source
        self.assertEqual(copy.getHash(), expected)
        self.assertEqual(list(copy.getData()), [4, 5, 6])

    def test_types_are_readied_for_a_caller_that_never_imported_the_module(self):
        script = ("import sys, _ovattr_testext as t\n"
                  "assert 'PyOvAttribute' not in sys.modules\n"
                  "a = t.wrap_tag(1)\n"
                  "assert 'PyOvAttribute' in sys.modules\n"
                  "hash(a)\n"
                  "del a\n"
                  "import PyOvAttribute\n"
                  "assert type(t.wrap_tag(5)) is PyOvAttribute.GroupAttribute\n")
        self._run_without_import(script)

    def test_vector_types_are_readied_for_a_caller_that_never_imported_the_module(self):
        script = ("import sys, _ovattr_testext as t\n"
                  "v = t.const_vector(5, 0.0)\n"
                  "assert 'PyOvAttribute' in sys.modules\n"
                  "assert len(v) == 0 and repr(v) == '[]'\n")
        self._run_without_import(script)

    def _run_without_import(self, script):
        env = dict(os.environ, OVATTR_TESTEXT_NO_IMPORT="1")
        process = subprocess.Popen([sys.executable, "-c", script], env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        output = process.communicate()[0]
        self.assertEqual(process.returncode, 0, output)

    def test_non_attributes_rewrap_to_none(self):
        for obj in (None, 3, GroupBuilder()):
            self.assertIsNone(testext.rewrap(obj))


class PyConstVectorFromDataAttributeTest(RefcountTestCase):

    def test_data_gives_the_sample_nearest_to_the_time(self):
        attribute = IntAttribute({0.0: [1, 2], 1.0: [3, 4]})
        vector = testext.const_vector(attribute, 0.9)
        self.assertIs(type(vector), ConstVector)
        self.assertEqual(list(vector), [3, 4])
        self.assertEqual(list(testext.const_vector(attribute, 0.1)), [1, 2])
        self.assertEqual(sys.getrefcount(vector), 2)

    def test_every_data_kind(self):
        for attribute, values in ((IntAttribute([1, 2]), [1, 2]),
                                  (FloatAttribute([0.5]), [0.5]),
                                  (DoubleAttribute([0.1]), [0.1]),
                                  (StringAttribute(["a", "b"]), ["a", "b"])):
            self.assertEqual(list(testext.const_vector(attribute, 0.0)), values)

    def test_other_attributes_give_the_empty_vector(self):
        for obj in (GroupAttribute(), NullAttribute(), IntAttribute.__new__(IntAttribute), 5):
            vector = testext.const_vector(obj, 0.0)
            self.assertIs(type(vector), ConstVector)
            self.assertEqual(len(vector), 0)
            self.assertEqual(list(vector), [])

    def test_vector_outlives_the_attribute(self):
        attribute = StringAttribute(["x", "y"])
        vector = testext.const_vector(attribute, 0.0)
        del attribute
        self.assertEqual(list(vector), ["x", "y"])

    def test_leaves_the_reference_count(self):
        attribute = IntAttribute([1])
        self.callKeepingRefcounts([attribute], testext.const_vector, attribute, 0.0)


class ValueConverterTest(unittest.TestCase):
    """The converters behind getValue: one library value to one Python object."""

    def test_int(self):
        value = IntAttribute(-2 ** 31).getValue()
        self.assertIs(type(value), int)
        self.assertEqual(value, -2 ** 31)

    def test_float_is_widened_exactly(self):
        value = FloatAttribute(0.1).getValue()
        self.assertIs(type(value), float)
        self.assertEqual(value, as_float32(0.1))
        self.assertEqual(value, 0.10000000149011612)

    def test_double(self):
        self.assertEqual(DoubleAttribute(0.1).getValue(), 0.1)

    def test_string_ends_at_the_first_nul(self):
        value = StringAttribute(["ab\0cd"]).getValue()
        self.assertIs(type(value), str)
        self.assertEqual(value, "ab")


if __name__ == "__main__":
    unittest.main()
