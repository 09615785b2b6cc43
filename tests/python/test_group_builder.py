"""GroupBuilder: modes, conversion rules of set, merging, building, chaining and references."""

import struct
import sys
import unittest

import PyOvAttribute
from PyOvAttribute import (DoubleAttribute, FloatAttribute, GroupAttribute, GroupBuilder,
                           IntAttribute, NullAttribute, StringAttribute)

CONVERSION_ERROR = "Requires a string and an attr, int, float or string"
MERGE_ERROR = "Requires a string and an attr"
UNINITIALISED_ERROR = "GroupBuilder is not initialised"


def child_names(group):
    return [name for name, _ in group.childList()]


def as_float32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


class GroupBuilderConstructionTest(unittest.TestCase):

    def test_module_constants(self):
        self.assertEqual(PyOvAttribute.GroupBuilderModeNormal, 0)
        self.assertEqual(PyOvAttribute.GroupBuilderModeStrict, 1)
        self.assertEqual(PyOvAttribute.GroupBuilderBuildAndFlush, 0)
        self.assertEqual(PyOvAttribute.GroupBuilderBuildAndRetain, 1)

    def test_normal_mode_takes_dotted_names_as_paths(self):
        for builder in (GroupBuilder(), GroupBuilder(PyOvAttribute.GroupBuilderModeNormal)):
            group = builder.set("a.b", 1).build()
            self.assertEqual(child_names(group), ["a"])
            inner = group.getChildByName("a")
            self.assertIs(type(inner), GroupAttribute)
            self.assertEqual(child_names(inner), ["b"])
            self.assertEqual(group.getChildByName("a.b"), IntAttribute(1))

    def test_strict_mode_keeps_dotted_names_whole(self):
        group = GroupBuilder(PyOvAttribute.GroupBuilderModeStrict).set("a.b", 1).build()
        self.assertEqual(child_names(group), ["a.b"])

    def test_keywords_are_ignored(self):
        group = GroupBuilder(mode=1).set("a.b", 1).build()
        self.assertEqual(child_names(group), ["a"])  # still normal mode
        GroupBuilder(anything="goes")

    def test_unknown_modes_reach_the_library(self):
        # The library treats them as normal mode.
        for mode in (7, -1):
            self.assertEqual(child_names(GroupBuilder(mode).set("a.b", 1).build()), ["a"])

    def test_argument_errors(self):
        with self.assertRaises(TypeError):
            GroupBuilder("strict")
        with self.assertRaises(TypeError):
            GroupBuilder(1, 2)
        with self.assertRaises(OverflowError):
            GroupBuilder(2 ** 40)

    def test_uninitialised_builder_raises_instead_of_crashing(self):
        builder = GroupBuilder.__new__(GroupBuilder)
        calls = [
            lambda: builder.set("a", 1), lambda: builder.setWithUniqueName("a", 1),
            lambda: builder.delete("a"), lambda: builder.update(GroupAttribute()),
            lambda: builder.deepUpdate(GroupAttribute()), lambda: builder.reserve(3),
            lambda: builder.build(), lambda: builder.setGroupInherit(0),
            lambda: builder.sort(), lambda: builder.set(),
        ]
        for call in calls:
            with self.assertRaises(TypeError) as raised:
                call()
            self.assertEqual(str(raised.exception), UNINITIALISED_ERROR)
        GroupBuilder.__new__(GroupBuilder)  # freed at once, holding no builder

    def test_init_failing_in_the_parser_keeps_the_builder(self):
        builder = GroupBuilder().set("a", 1)
        with self.assertRaises(TypeError):
            builder.__init__("x")
        self.assertEqual(child_names(builder.build()), ["a"])
        fresh = GroupBuilder.__new__(GroupBuilder)
        with self.assertRaises(TypeError):
            fresh.__init__("x")
        with self.assertRaises(TypeError):
            fresh.build()

    def test_second_init_replaces_the_builder(self):
        builder = GroupBuilder().set("a", 1)
        builder.__init__(PyOvAttribute.GroupBuilderModeStrict)
        self.assertEqual(builder.set("x.y", 2).build(1), GroupAttribute([("x.y", IntAttribute(2))]))
        GroupBuilder.__new__(GroupBuilder).__init__()

    def test_a_new_builder_starts_empty_whatever_the_last_one_left(self):
        # A builder that dies leaves its memory to the next one made: nothing else carries over.
        for mode, names in ((PyOvAttribute.GroupBuilderModeStrict, ["a.b"]),
                            (PyOvAttribute.GroupBuilderModeNormal, ["a"])):
            dying = GroupBuilder(1 - mode).setGroupInherit(False)
            for i in range(300):
                dying.set("n%d" % i, i)
            dying.set("p.q", 1)
            del dying
            built = GroupBuilder(mode).set("a.b", 1).build()
            self.assertEqual(child_names(built), names)
            self.assertTrue(built.getGroupInherit())
        # Two builders alive at once never share anything.
        first, second = GroupBuilder(), GroupBuilder()
        first.set("x", 1)
        self.assertEqual(second.build().getNumberOfChildren(), 0)
        self.assertEqual(child_names(first.build()), ["x"])

    def test_python_subclass(self):
        class MyBuilder(GroupBuilder):
            pass

        builder = MyBuilder(1)
        self.assertIs(builder.set("a.b", 1), builder)
        self.assertEqual(child_names(builder.build()), ["a.b"])
        # Methods are looked up through the method cache: a change of the class shows at once.
        MyBuilder.set = lambda self, name, value: GroupBuilder.set(self, name + "_", value)
        self.assertEqual(child_names(builder.set("c", 1).build()), ["c_"])
        del MyBuilder.set
        self.assertEqual(child_names(builder.set("c", 1).build()), ["c"])


class GroupBuilderSetTest(unittest.TestCase):

    def setUp(self):
        self.builder = GroupBuilder(PyOvAttribute.GroupBuilderModeStrict)

    def stored(self, value):
        return GroupBuilder().set("v", value).build().getChildByName("v")

    def test_set_returns_the_builder_itself(self):
        self.assertIs(self.builder.set("a", 1), self.builder)
        self.assertIs(self.builder.setWithUniqueName("a", 1), self.builder)

    def test_calls_chain_in_order(self):
        group = self.builder.set("c", 1).set("a", 2.5).set("b", "s").build()
        self.assertEqual(child_names(group), ["c", "a", "b"])

    def test_each_chained_call_adds_exactly_one_reference(self):
        builder = self.builder
        before = sys.getrefcount(builder)
        results = [builder.set("a", 1), builder.setWithUniqueName("a", 2),
                   builder.delete("a"), builder.update(GroupAttribute()),
                   builder.deepUpdate(GroupAttribute()), builder.reserve(4),
                   builder.setGroupInherit(1), builder.sort()]
        self.assertEqual(sys.getrefcount(builder), before + len(results))
        self.assertTrue(all(result is builder for result in results))
        del results
        self.assertEqual(sys.getrefcount(builder), before)
        builder.set("x", 1).set("y", 2).sort().delete("x")
        self.assertEqual(sys.getrefcount(builder), before)

    def test_integers_become_32_bit_int_attributes(self):
        for value, expected in ((7, 7), (True, 1), (False, 0), (-2 ** 31, -2 ** 31),
                                (2 ** 31 - 1, 2 ** 31 - 1)):
            child = self.stored(value)
            self.assertIs(type(child), IntAttribute)
            self.assertEqual(child, IntAttribute(expected), repr(value))
            self.assertEqual(child.getValue(), expected)

    def test_int_subclass_is_an_int(self):
        class Count(int):
            pass

        self.assertEqual(self.stored(Count(4)), IntAttribute(4))

    def test_ints_beyond_32_bits_overflow_and_set_nothing(self):
        for value in (2 ** 31, -2 ** 31 - 1, sys.maxint):
            with self.assertRaises(OverflowError):
                self.builder.set("big", value)
        self.assertEqual(self.builder.build().getNumberOfChildren(), 0)

    def test_floats_become_32_bit_float_attributes(self):
        child = self.stored(2.5)
        self.assertIs(type(child), FloatAttribute)
        self.assertNotEqual(child, DoubleAttribute(2.5))
        narrowed = self.stored(0.1)
        self.assertEqual(narrowed, FloatAttribute(0.1))
        self.assertEqual(narrowed.getValue(), as_float32(0.1))
        self.assertNotEqual(narrowed.getValue(), 0.1)

    def test_floats_beyond_the_float_range_become_infinities(self):
        self.assertEqual(self.stored(1e300).getValue(), float("inf"))
        self.assertEqual(self.stored(-1e39).getValue(), float("-inf"))
        # Just past the largest float, but nearer to it than to the next power of two.
        self.assertEqual(self.stored(3.4028235e38).getValue(), 3.4028234663852886e38)
        nan = self.stored(float("nan")).getValue()
        self.assertNotEqual(nan, nan)

    def test_float_subclass_is_a_float(self):
        class Length(float):
            pass

        self.assertIs(type(self.stored(Length(0.5))), FloatAttribute)

    def test_strings_become_string_attributes_cut_at_nul(self):
        child = self.stored("hello")
        self.assertIs(type(child), StringAttribute)
        self.assertEqual(child, StringAttribute("hello"))
        self.assertEqual(self.stored("ab\0cd").getValue(), "ab")

        class Text(str):
            pass

        self.assertEqual(self.stored(Text("t")), StringAttribute("t"))

    def test_attribute_objects_are_stored_unchanged(self):
        class Mixin(object):
            pass

        class Tagged(Mixin, IntAttribute):
            pass

        for value in (DoubleAttribute([1.5, 2.5], 2), IntAttribute({0.0: [1], 1.0: [2]}),
                      NullAttribute(), GroupAttribute([("x", IntAttribute(1))]),
                      StringAttribute(["a", "b"]), Tagged(7)):
            child = self.stored(value)
            # Children come back as the module's own type, never a subclass.
            self.assertIs(type(child), IntAttribute if type(value) is Tagged else type(value))
            self.assertEqual(child.getHash(), value.getHash())

    def test_other_values_are_refused(self):
        refused = [5L, 1L, 2 ** 64, u"text", u"", None, [1], (1,), {}, object(), 1j,
                   IntAttribute.__new__(IntAttribute), GroupBuilder()]
        for value in refused:
            with self.assertRaises(TypeError) as raised:
                self.builder.set("a", value)
            self.assertEqual(str(raised.exception), CONVERSION_ERROR, repr(value))
            with self.assertRaises(TypeError) as raised:
                self.builder.setWithUniqueName("a", value)
            self.assertEqual(str(raised.exception), CONVERSION_ERROR, repr(value))
        self.assertEqual(self.builder.build().getNumberOfChildren(), 0)

    def test_names_are_parsed_as_c_strings(self):
        with self.assertRaises(TypeError):
            self.builder.set("a\0b", 1)
        with self.assertRaises(TypeError):
            self.builder.set(5, 1)
        with self.assertRaises(TypeError):
            self.builder.set("a")
        with self.assertRaises(TypeError):
            self.builder.set("a", 1, "yes")
        self.assertEqual(self.builder.build().getNumberOfChildren(), 0)
        self.assertEqual(child_names(self.builder.set(u"uni", 1).build()), ["uni"])

        class Name(str):
            pass

        group = self.builder.set(Name("sub"), 1).setWithUniqueName(Name("sub"), 2, 1).build()
        self.assertEqual(child_names(group), ["sub", "sub1"])
        self.assertIs(type(child_names(group)[0]), str)

    def test_inherit_flag_reaches_groups_made_by_paths(self):
        for flag, expected in ((0, False), (False, False), (1, True), (2, True), (-1, True)):
            group = GroupBuilder().set("a.b", 1, flag).build()
            self.assertIs(group.getChildByName("a").getGroupInherit(), expected, repr(flag))
        group = GroupBuilder().setWithUniqueName("a.b", 1, 0).build()
        self.assertIs(group.getChildByName("a").getGroupInherit(), False)

    def test_setting_a_name_again_replaces_it_in_place(self):
        group = self.builder.set("a", 1).set("b", 2).set("a", 3).build()
        self.assertEqual(child_names(group), ["a", "b"])
        self.assertEqual(group.getChildByName("a"), IntAttribute(3))

    def test_unique_names_count_up(self):
        for _ in range(3):
            self.builder.setWithUniqueName("n", 1)
        self.assertEqual(child_names(self.builder.build()), ["n", "n1", "n2"])

    def test_set_keeps_no_reference_to_its_arguments(self):
        value = DoubleAttribute(0.5)
        name = "".join(["na", "me"])
        number = 123456
        before = [sys.getrefcount(x) for x in (value, name, number)]
        for _ in range(5):
            self.builder.set(name, value)
            self.builder.setWithUniqueName(name, number)
            with self.assertRaises(TypeError):
                self.builder.set(name, [value])
        self.assertEqual([sys.getrefcount(x) for x in (value, name, number)], before)


class GroupBuilderEditTest(unittest.TestCase):

    def test_delete(self):
        builder = GroupBuilder()
        self.assertIs(builder.set("a", 1).set("b", 2).delete("a"), builder)
        builder.delete("missing")
        self.assertEqual(child_names(builder.build(1)), ["b"])
        builder.set("g.x", 1).set("g.y", 2).delete("g.x")
        self.assertEqual(child_names(builder.build().getChildByName("g")), ["y"])
        with self.assertRaises(TypeError):
            builder.delete()
        with self.assertRaises(TypeError):
            builder.delete("a\0")

    def test_reserve(self):
        builder = GroupBuilder()
        self.assertIs(builder.reserve(100), builder)
        self.assertEqual(builder.build().getNumberOfChildren(), 0)
        with self.assertRaises(TypeError):
            builder.reserve("many")
        with self.assertRaises(OverflowError):
            builder.reserve(2 ** 64)

    def test_a_library_failure_becomes_a_python_error_or_nothing(self):
        # An absurd reservation may be refused by the library; it must come back as a Python
        # error (or be ignored), never as a C++ exception escaping into the interpreter.
        builder = GroupBuilder()
        try:
            builder.reserve(2 ** 62)
        except (RuntimeError, MemoryError):
            pass
        self.assertEqual(child_names(builder.set("a", 1).build()), ["a"])

    def test_sort_orders_names_bytewise(self):
        builder = GroupBuilder(1)
        for name in ("b", "B", "a.c", "a", "\xff", "aa"):
            builder.set(name, 1)
        self.assertIs(builder.sort(), builder)
        self.assertEqual(child_names(builder.build()), ["B", "a", "a.c", "aa", "b", "\xff"])
        with self.assertRaises(TypeError):
            builder.sort(1)

    def test_set_group_inherit(self):
        builder = GroupBuilder()
        for flag, expected in ((0, False), (2, True), (-1, True), (False, False), (True, True)):
            self.assertIs(builder.setGroupInherit(flag), builder)
            self.assertIs(builder.build(1).getGroupInherit(), expected, repr(flag))
        with self.assertRaises(TypeError):
            builder.setGroupInherit()
        with self.assertRaises(TypeError):
            builder.setGroupInherit("no")


class GroupBuilderMergeTest(unittest.TestCase):

    def setUp(self):
        self.builder = GroupBuilder().set("a", 1).set("grp.x", 1)
        self.other = GroupAttribute([("a", IntAttribute(2)),
                                     ("grp", GroupAttribute([("y", IntAttribute(2))])),
                                     ("b", IntAttribute(3))])

    def test_update_sets_each_child(self):
        self.assertIs(self.builder.update(self.other), self.builder)
        group = self.builder.build()
        self.assertEqual(child_names(group), ["a", "grp", "b"])
        self.assertEqual(group.getChildByName("a"), IntAttribute(2))
        self.assertEqual(child_names(group.getChildByName("grp")), ["y"])

    def test_deep_update_merges_child_groups(self):
        self.assertIs(self.builder.deepUpdate(self.other), self.builder)
        group = self.builder.build()
        self.assertEqual(child_names(group), ["a", "grp", "b"])
        self.assertEqual(child_names(group.getChildByName("grp")), ["x", "y"])

    def test_non_attributes_are_refused(self):
        for value in (5, None, "grp", GroupBuilder(), GroupAttribute.__new__(GroupAttribute)):
            for merge in (self.builder.update, self.builder.deepUpdate):
                with self.assertRaises(TypeError) as raised:
                    merge(value)
                self.assertEqual(str(raised.exception), MERGE_ERROR, repr(value))
        with self.assertRaises(TypeError):
            self.builder.update()
        self.assertEqual(child_names(self.builder.build()), ["a", "grp"])

    def test_other_attribute_kinds_merge_nothing(self):
        for value in (IntAttribute(1), NullAttribute(), StringAttribute("grp")):
            self.assertIs(self.builder.update(value), self.builder)
            self.assertIs(self.builder.deepUpdate(value), self.builder)
        self.assertEqual(child_names(self.builder.build()), ["a", "grp"])

    def test_merging_keeps_no_reference_to_the_group(self):
        before = sys.getrefcount(self.other)
        for _ in range(5):
            self.builder.update(self.other).deepUpdate(self.other)
        self.assertEqual(sys.getrefcount(self.other), before)


class GroupBuilderBuildTest(unittest.TestCase):

    def test_flush_empties_the_builder_and_resets_inherit(self):
        builder = GroupBuilder().set("a", 1).setGroupInherit(0)
        group = builder.build()
        self.assertIs(type(group), GroupAttribute)
        self.assertEqual(child_names(group), ["a"])
        self.assertIs(group.getGroupInherit(), False)
        after = builder.build(PyOvAttribute.GroupBuilderBuildAndFlush)
        self.assertEqual(after.getNumberOfChildren(), 0)
        self.assertIs(after.getGroupInherit(), True)

    def test_retain_keeps_everything(self):
        builder = GroupBuilder().set("a", 1).setGroupInherit(0)
        first = builder.build(PyOvAttribute.GroupBuilderBuildAndRetain)
        second = builder.build(PyOvAttribute.GroupBuilderBuildAndRetain)
        self.assertIsNot(first, second)
        self.assertEqual(first, second)
        self.assertIs(second.getGroupInherit(), False)
        builder.set("b", 2)
        self.assertEqual(child_names(builder.build()), ["a", "b"])

    def test_unknown_build_modes_flush(self):
        builder = GroupBuilder().set("a", 1)
        self.assertEqual(child_names(builder.build(7)), ["a"])
        self.assertEqual(builder.build().getNumberOfChildren(), 0)

    def test_build_matches_the_initialiser(self):
        built = GroupBuilder(1).set("i", 1).set("f", 0.5).set("s", "x").build()
        made = GroupAttribute([("i", IntAttribute(1)), ("f", FloatAttribute(0.5)),
                               ("s", StringAttribute("x"))])
        self.assertEqual(built.getHash(), made.getHash())

    def test_build_result_is_a_new_reference_and_the_builder_is_untouched(self):
        builder = GroupBuilder().set("a", 1)
        before = sys.getrefcount(builder)
        group = builder.build()
        self.assertEqual(sys.getrefcount(group), 2)
        self.assertEqual(sys.getrefcount(builder), before)

    def test_build_argument_errors(self):
        builder = GroupBuilder().set("a", 1)
        with self.assertRaises(TypeError):
            builder.build("flush")
        with self.assertRaises(TypeError):
            builder.build(0, 1)
        self.assertEqual(child_names(builder.build()), ["a"])


if __name__ == "__main__":
    unittest.main()
