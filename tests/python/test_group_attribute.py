"""GroupAttribute: construction from named children, child access, and Python text."""

import StringIO
import sys
import unittest

import OvAttribute
import PyOvAttribute
from PyOvAttribute import (DoubleAttribute, FloatAttribute, GroupAttribute, IntAttribute,
                           NullAttribute, StringAttribute)

SHAPE_ERROR = "Expects a sequence of name/attr tuples or a dict."


def child_names(group):
    return [name for name, _ in group.childList()]


def python_text(attribute):
    out = StringIO.StringIO()
    attribute.writePython(out)
    return out.getvalue()


def read_back(text):
    return OvAttribute.readPython(text)


class GroupAttributeConstructionTest(unittest.TestCase):

    def setUp(self):
        self.one = IntAttribute(1)
        self.two = StringAttribute("two")

    def test_no_children_makes_an_empty_inheriting_group(self):
        group = GroupAttribute()
        self.assertEqual(group.getNumberOfChildren(), 0)
        self.assertEqual(group.childList(), [])
        self.assertIs(group.getGroupInherit(), True)

    def test_empty_containers_make_empty_groups(self):
        for children in ([], (), {}, ""):
            group = GroupAttribute(children)
            self.assertEqual(group.getNumberOfChildren(), 0, repr(children))
            self.assertEqual(group, GroupAttribute())

    def test_sequence_of_pairs_keeps_its_order(self):
        group = GroupAttribute([("z", self.one), ("a", self.two), ("m", NullAttribute())])
        self.assertEqual(child_names(group), ["z", "a", "m"])
        self.assertEqual(group.getChildByIndex(0), self.one)
        self.assertEqual(group.getChildByIndex(1), self.two)

    def test_tuple_of_pairs_and_other_sequences_are_accepted(self):
        class Pairs(object):
            def __init__(self, items):
                self.items = items

            def __getitem__(self, index):
                return self.items[index]

        expected = GroupAttribute([("a", self.one), ("b", self.two)])
        self.assertEqual(GroupAttribute((("a", self.one), ("b", self.two))), expected)
        self.assertEqual(GroupAttribute(Pairs([("a", self.one), ("b", self.two)])), expected)

    def test_dict_gives_its_own_iteration_order(self):
        children = dict(("k%d" % i, IntAttribute(i)) for i in range(20))
        group = GroupAttribute(children)
        self.assertEqual(child_names(group), list(children.keys()))

    def test_dict_subclass_is_taken_as_a_dict(self):
        class Children(dict):
            pass

        group = GroupAttribute(Children(a=self.one))
        self.assertEqual(child_names(group), ["a"])

    def test_keywords(self):
        group = GroupAttribute(children=[("a", self.one)], groupInherit=0)
        self.assertEqual(child_names(group), ["a"])
        self.assertIs(group.getGroupInherit(), False)
        self.assertIs(GroupAttribute(groupInherit=False).getGroupInherit(), False)

    def test_group_inherit_is_false_only_for_zero(self):
        for flag in (0, False):
            self.assertIs(GroupAttribute([], flag).getGroupInherit(), False, repr(flag))
        for flag in (1, 5, -1, True):
            self.assertIs(GroupAttribute([], flag).getGroupInherit(), True, repr(flag))

    def test_flag_is_part_of_the_value(self):
        self.assertNotEqual(GroupAttribute([], True), GroupAttribute([], False))

    def test_children_of_the_wrong_shape(self):
        invalid = IntAttribute.__new__(IntAttribute)
        cases = [
            None, 5, 1.5, object(),
            "ab",                                   # items are one-character strings
            [["a", self.one]],                      # a list is not a pair
            [("a",)], [("a", self.one, self.one)],  # wrong tuple lengths
            [(u"a", self.one)], [(5, self.one)],    # names must be str
            [("a", 5)], [("a", "text")], [("a", None)],
            [("a", invalid)],                       # an attribute object with no value
            [("a", self.one), ("b", 7)],            # the bad item may come late
            {"a": 5}, {1: self.one}, {u"a": self.one},
        ]
        for children in cases:
            with self.assertRaises(TypeError) as raised:
                GroupAttribute(children)
            self.assertEqual(str(raised.exception), SHAPE_ERROR, repr(children))

    def test_failed_initialisation_leaves_an_invalid_group(self):
        group = GroupAttribute([("a", self.one)])
        with self.assertRaises(TypeError):
            group.__init__([("a", 5)])
        with self.assertRaises(TypeError) as raised:
            group.getNumberOfChildren()
        self.assertEqual(str(raised.exception), "Invalid attr")

    def test_second_initialisation_replaces_the_group(self):
        group = GroupAttribute([("a", self.one)])
        group.__init__([("b", self.two)], 0)
        self.assertEqual(child_names(group), ["b"])
        self.assertIs(group.getGroupInherit(), False)

    def test_iteration_error_of_the_sequence_propagates(self):
        class Broken(object):
            def __getitem__(self, index):
                raise ValueError("broken item")

        with self.assertRaises(ValueError) as raised:
            GroupAttribute(Broken())
        self.assertEqual(str(raised.exception), "broken item")

    def test_argument_parser_errors(self):
        with self.assertRaises(TypeError):
            GroupAttribute([], "yes")
        with self.assertRaises(TypeError):
            GroupAttribute([], 1, 2)
        with self.assertRaises(TypeError):
            GroupAttribute(children=[], inherit=1)

    def test_name_is_cut_at_nul(self):
        group = GroupAttribute([("ab\0cd", self.one)])
        self.assertEqual(child_names(group), ["ab"])

    def test_dotted_names_stay_whole(self):
        group = GroupAttribute([("a.b", self.one), ("a", self.two)])
        self.assertEqual(child_names(group), ["a.b", "a"])

    def test_subclasses_of_str_and_tuple_are_accepted(self):
        class Name(str):
            pass

        class Pair(tuple):
            pass

        group = GroupAttribute([Pair((Name("a"), self.one))])
        self.assertEqual(child_names(group), ["a"])
        self.assertIs(type(child_names(group)[0]), str)

    def test_a_python_subclass_constructs_and_walks(self):
        class MyGroup(GroupAttribute):
            pass

        group = MyGroup([("a", self.one)])
        self.assertEqual(group.getNumberOfChildren(), 1)
        self.assertEqual(group, GroupAttribute([("a", self.one)]))

    def test_construction_keeps_no_reference_to_its_arguments(self):
        children = [("a", self.one), ("b", self.two)]
        before = [sys.getrefcount(x) for x in (children, children[0], self.one, self.two)]
        GroupAttribute(children)
        with self.assertRaises(TypeError):
            GroupAttribute(children + [("c", 3)])
        after = [sys.getrefcount(x) for x in (children, children[0], self.one, self.two)]
        self.assertEqual(after, before)

    def test_children_share_values_with_their_sources(self):
        source = DoubleAttribute([0.5, 1.5], 2)
        group = GroupAttribute({"d": source})
        self.assertEqual(group.getChildByName("d").getHash(), source.getHash())


class GroupAttributeChildAccessTest(unittest.TestCase):

    def setUp(self):
        self.kinds = [
            ("i", IntAttribute([1, 2])),
            ("f", FloatAttribute(0.5)),
            ("d", DoubleAttribute(0.25)),
            ("s", StringAttribute(["x", "y"])),
            ("n", NullAttribute()),
            ("g", GroupAttribute([("inner", IntAttribute(9))])),
        ]
        self.group = GroupAttribute(self.kinds)

    def test_counts_and_names(self):
        self.assertEqual(self.group.getNumberOfChildren(), 6)
        self.assertEqual([self.group.getChildName(i) for i in range(6)],
                         ["i", "f", "d", "s", "n", "g"])

    def test_children_come_back_as_the_concrete_types(self):
        types = [IntAttribute, FloatAttribute, DoubleAttribute, StringAttribute, NullAttribute,
                 GroupAttribute]
        for index, ((name, source), expected) in enumerate(zip(self.kinds, types)):
            by_index = self.group.getChildByIndex(index)
            by_name = self.group.getChildByName(name)
            self.assertIs(type(by_index), expected)
            self.assertIs(type(by_name), expected)
            self.assertEqual(by_index, source)
            self.assertEqual(by_name.getHash(), source.getHash())

    def test_children_of_a_subclass_are_module_types(self):
        class MyInt(IntAttribute):
            pass

        group = GroupAttribute([("m", MyInt(3))])
        self.assertIs(type(group.getChildByIndex(0)), IntAttribute)

    def test_each_call_makes_a_new_object(self):
        self.assertIsNot(self.group.getChildByIndex(0), self.group.getChildByIndex(0))
        self.assertIsNot(self.group.getChildByName("i"), self.group.getChildByName("i"))

    def test_indices_are_passed_unchanged(self):
        self.assertIsNone(self.group.getChildByIndex(-1))  # not the last child
        self.assertIsNone(self.group.getChildByIndex(6))
        self.assertIsNone(self.group.getChildByIndex(2 ** 62))
        self.assertEqual(self.group.getChildName(-1), "")
        self.assertEqual(self.group.getChildName(6), "")
        self.assertIsNotNone(self.group.getChildByIndex(5L))

    def test_names_of_every_accepted_string_kind(self):
        class Name(str):
            pass

        for name in ("i", Name("i"), u"i"):
            self.assertEqual(self.group.getChildByName(name), IntAttribute([1, 2]))
        self.assertIsNone(self.group.getChildByName("i\xff"))
        with self.assertRaises(UnicodeError):
            self.group.getChildByName(u"\xe9")

    def test_missing_names_give_none(self):
        self.assertIsNone(self.group.getChildByName("missing"))
        self.assertIsNone(self.group.getChildByName(""))
        self.assertIsNone(GroupAttribute().getChildByName("i"))

    def test_dotted_paths_reach_into_child_groups(self):
        self.assertEqual(self.group.getChildByName("g.inner"), IntAttribute(9))
        self.assertIsNone(self.group.getChildByName("g.other"))
        self.assertIsNone(self.group.getChildByName("i.x"))  # i is no group
        deep = GroupAttribute([("a", GroupAttribute([("b", self.group)]))])
        self.assertEqual(deep.getChildByName("a.b.g.inner"), IntAttribute(9))

    def test_an_exact_dotted_name_wins_over_the_path(self):
        group = GroupAttribute([("a", GroupAttribute([("b", IntAttribute(1))])),
                                ("a.b", IntAttribute(2))])
        self.assertEqual(group.getChildByName("a.b"), IntAttribute(2))

    def test_argument_errors(self):
        with self.assertRaises(TypeError):
            self.group.getChildByName("g\0inner")
        with self.assertRaises(TypeError):
            self.group.getChildByName(5)
        with self.assertRaises(TypeError):
            self.group.getChildByName()
        with self.assertRaises(TypeError):
            self.group.getChildByIndex("0")
        with self.assertRaises(TypeError):
            self.group.getChildName("0")
        with self.assertRaises(OverflowError):
            self.group.getChildByIndex(2 ** 70)
        with self.assertRaises(TypeError):
            self.group.childList(0)
        with self.assertRaises(TypeError):
            self.group.getNumberOfChildren(0)

    def test_child_list_pairs_names_with_children(self):
        listed = self.group.childList()
        self.assertIs(type(listed), list)
        self.assertEqual([name for name, _ in listed], [name for name, _ in self.kinds])
        for (name, child), (_, source) in zip(listed, self.kinds):
            self.assertIs(type(name), str)
            self.assertEqual(child, source)

    def test_an_invalid_group_fails_before_parsing_arguments(self):
        group = GroupAttribute.__new__(GroupAttribute)
        calls = [
            lambda: group.getNumberOfChildren(),
            lambda: group.getChildName(),      # missing argument: the group is checked first
            lambda: group.getChildByIndex("x"),
            lambda: group.getChildByName(),
            lambda: group.childList(),
            lambda: group.getGroupInherit(),
        ]
        for call in calls:
            with self.assertRaises(TypeError) as raised:
                call()
            self.assertEqual(str(raised.exception), "Invalid attr")

    def test_results_are_owned_by_the_caller_alone(self):
        child = self.group.getChildByIndex(0)
        self.assertEqual(sys.getrefcount(child), 2)
        child = self.group.getChildByName("g")
        self.assertEqual(sys.getrefcount(child), 2)
        listed = self.group.childList()
        self.assertEqual(sys.getrefcount(listed), 2)
        for pair in listed:
            self.assertEqual(sys.getrefcount(pair), 3)  # the list, the loop name, the argument
            self.assertEqual(sys.getrefcount(pair[1]), 2)

    def test_calls_leave_argument_and_self_counts_alone(self):
        name = "".join(["g", ".inner"])
        index = 3000  # not a cached small int
        before = [sys.getrefcount(x) for x in (self.group, name, index)]
        for _ in range(10):
            self.group.getChildByName(name)
            self.group.getChildByIndex(index)
            self.group.getChildName(index)
            self.group.childList()
            self.group.getGroupInherit()
        after = [sys.getrefcount(x) for x in (self.group, name, index)]
        self.assertEqual(after, before)

    def test_none_results_are_new_references(self):
        before = sys.getrefcount(None)
        results = [self.group.getChildByIndex(-1) for _ in range(50)]
        self.assertEqual(sys.getrefcount(None), before + 50)
        del results
        self.assertEqual(sys.getrefcount(None), before)


class GroupAttributeSerialisationTest(unittest.TestCase):

    def nested(self):
        leaf = GroupAttribute([("x", FloatAttribute({0.0: [0.1], 1.0: [0.2]})),
                               ("s", StringAttribute(["ab", "c d", ""]))], False)
        middle = GroupAttribute([("leaf", leaf), ("dotted.name", IntAttribute([1, 2, 3, 4], 2)),
                                 ("empty", GroupAttribute())])
        return GroupAttribute([("middle", middle), ("d", DoubleAttribute(1.0 / 3)),
                               ("it's", StringAttribute("quote"))])

    def test_xml_round_trip(self):
        group = self.nested()
        parsed = PyOvAttribute.Attribute.parseXML(group.getXML())
        self.assertIs(type(parsed), GroupAttribute)
        self.assertEqual(parsed.getHash(), group.getHash())
        self.assertEqual(child_names(parsed), child_names(group))

    def test_binary_round_trip(self):
        group = self.nested()
        parsed = PyOvAttribute.Attribute.parseBinary(group.getBinary())
        self.assertIs(type(parsed), GroupAttribute)
        self.assertEqual(parsed.getHash(), group.getHash())
        self.assertIs(parsed.getChildByName("middle.leaf").getGroupInherit(), False)


class GroupAttributeWritePythonTest(unittest.TestCase):

    def test_empty_group_text(self):
        out = StringIO.StringIO()
        self.assertIsNone(GroupAttribute().writePython(out))
        self.assertEqual(out.getvalue(), "OvAttribute.GroupAttribute([], True)")
        self.assertEqual(python_text(GroupAttribute([], 0)), "OvAttribute.GroupAttribute([], False)")

    def test_children_write_themselves_between_their_names(self):
        child = IntAttribute([1, 2])
        text = python_text(GroupAttribute([("a", child), ("b'", child)]))
        expected = ("OvAttribute.GroupAttribute([('a', %s), (\"b'\", %s), ], True)"
                    % (python_text(child), python_text(child)))
        self.assertEqual(text, expected)

    def test_nested_groups_read_back_equal(self):
        group = GroupAttributeSerialisationTest("test_xml_round_trip").nested()
        back = read_back(python_text(group))
        self.assertIs(type(back), GroupAttribute)
        self.assertEqual(back.getHash(), group.getHash())
        self.assertEqual(child_names(back.getChildByName("middle")),
                         ["leaf", "dotted.name", "empty"])
        self.assertIs(back.getChildByName("middle.leaf").getGroupInherit(), False)

    def test_every_data_kind_and_odd_names_read_back_equal(self):
        names = ["plain", "with.dot", "a/b", "quote'", 'dq"', "nl\n", "\x01\x7f\xfe", "%2E"]
        # Data values are limited to those whose own text is Python: a data attribute writes
        # strings unescaped and non-finite numbers as nan and inf.
        kinds = [IntAttribute({0.0: [1], 0.5: [-2]}), FloatAttribute([1e-30, -0.0, 3.5]),
                 DoubleAttribute([0.1, 1e300], 2), StringAttribute(["", "x y"]),
                 IntAttribute([])]
        children = [(name, kinds[i % len(kinds)]) for i, name in enumerate(names)]
        group = GroupAttribute([("outer", GroupAttribute(children, False))] + children)
        back = read_back(python_text(group))
        self.assertEqual(back.getHash(), group.getHash())
        self.assertEqual(child_names(back.getChildByIndex(0)), names)

    def test_a_null_child_stops_the_text_with_its_own_error(self):
        out = StringIO.StringIO()
        group = GroupAttribute([("i", IntAttribute(1)), ("n", NullAttribute())])
        with self.assertRaises(AttributeError):
            group.writePython(out)
        expected_start = "OvAttribute.GroupAttribute([('i', %s), " % python_text(IntAttribute(1))
        self.assertEqual(out.getvalue(), expected_start + "('n', ")

    def test_invalid_group_fails_after_the_opening_text(self):
        out = StringIO.StringIO()
        with self.assertRaises(TypeError) as raised:
            GroupAttribute.__new__(GroupAttribute).writePython(out)
        self.assertEqual(str(raised.exception), "Invalid attr")
        self.assertEqual(out.getvalue(), "OvAttribute.GroupAttribute([")

    def test_a_file_without_write_fails(self):
        with self.assertRaises(AttributeError):
            GroupAttribute().writePython(object())
        with self.assertRaises(TypeError):
            GroupAttribute().writePython()

    def test_write_python_keeps_no_references(self):
        group = GroupAttribute([("a", IntAttribute(1))])
        out = StringIO.StringIO()
        before = (sys.getrefcount(group), sys.getrefcount(out))
        for _ in range(5):
            group.writePython(out)
        self.assertEqual((sys.getrefcount(group), sys.getrefcount(out)), before)


if __name__ == "__main__":
    unittest.main()
