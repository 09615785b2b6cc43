"""Groups from Python: GroupAttribute's forms and reads, GroupBuilder's conversions, modes and
chaining, and the Util and delimiter functions. The library's own rules (paths, unique names,
merges, sorting, sample clean-up) are pinned by its C++ suites; here, how Python reaches them."""

import operator
import sys
import unittest

import PyOvAttribute as P
import support as S

ONE, TWO = P.IntAttribute(1), P.StringAttribute("two")
SHAPE = "Expects a sequence of name/attr tuples or a dict."
names = S.names

class GroupAttributes(unittest.TestCase):
    def test_forms(self):
        rows = [
            ((), {}, [], True), (([],), {}, [], True), (({},), {}, [], True), (("",), {}, [], True),
            (([("b", ONE), ("a", TWO)],), {}, ["b", "a"], True),
            ((({"x": ONE},), {"groupInherit": 0}), None, ["x"], False),
            (((("a.b", ONE), ("a\x00c", TWO), ("a.b", TWO)), 5), {}, ["a.b", "a"], True),
            ((), {"children": [("s", S.subclass(P.IntAttribute)(3))], "groupInherit": False},
             ["s"], False),
        ] + S.py([], [(([(b"b\xff", ONE), ("\u20ac\udcff", TWO)],), {}, ["b\udcff", "\u20ac\udcff"],
                       True)])  # 3: names as str (UTF-8, surrogateescape) or bytes
        for args, kwargs, children, inherit in rows:
            if kwargs is None:
                args, kwargs = args
            group = P.GroupAttribute(*args, **kwargs)
            self.assertEqual((names(group), group.getGroupInherit()), (children, inherit), args)
        for bad in [None, 5, "ab", [["a", ONE]], [("a",)], [("a", ONE, 1)], [("a", 1)],
                    [("a", "s")], [(1, ONE)], {"a": 1}, {1: ONE},
                    [("a", P.IntAttribute.__new__(P.IntAttribute))]] + S.py([[(S.text("a"), ONE)]], []):
            self.assertEqual(S.message(self, TypeError, P.GroupAttribute, bad), SHAPE, bad)
        self.assertRaises(ValueError, P.GroupAttribute, S.subclass(list, __iter__=S._raise)([1]))
        self.assertRaises(TypeError, P.GroupAttribute, [], "x")
        group = P.GroupAttribute([("a", ONE)])
        self.assertRaises(TypeError, group.__init__, None)
        # 2.7: a failed __init__ empties it; 3: a value is never initialised again
        self.assertEqual(S.attempt(group.getNumberOfChildren).__class__, S.py(TypeError, int))
        if S.PY3:
            self.assertRaises(UnicodeEncodeError, P.GroupAttribute, {"\ud800": ONE})

    def test_reads(self):
        inner = P.GroupAttribute([("b", ONE), ("c.d", TWO)])
        group = P.GroupAttribute([("a", inner), ("a.b", TWO), ("n", P.NullAttribute())], False)
        self.assertEqual(group.getNumberOfChildren(), 3)
        self.assertEqual([group.getChildName(i) for i in (0, 2, 3, -1)], ["a", "n", "", ""])
        self.assertEqual([type(group.getChildByIndex(i)) for i in (0, 1, 2)],
                         [P.GroupAttribute, P.StringAttribute, P.NullAttribute])
        self.assertEqual([group.getChildByIndex(i) for i in (3, -1, 2 ** 62)], [None] * 3)
        self.assertEqual([group.getChildByName(n) for n in ("a.c.d", "a.x")], [TWO, None])
        self.assertEqual(group.childList()[1], ("a.b", TWO))
        self.assertRaises(TypeError, group.getChildByName, "a\x00b")
        self.assertRaises(TypeError, group.getChildByIndex, "0")


@unittest.skipUnless(S.PY3, "groups are mappings on Python 3")
class Mapping(unittest.TestCase):
    def test_read_only_mapping_of_names(self):
        group = P.GroupAttribute([("b", ONE), ("a.c", TWO), (b"\xff", ONE)])
        self.assertEqual((len(group), list(group), group["a.c"], group[b"a.c"], group["\udcff"]),
                         (3, ["b", "a.c", "\udcff"], TWO, TWO, ONE))
        self.assertEqual([name in group for name in ("b", b"b", "a", "x", 5, None)],
                         [True, True, False, False, False, False])
        for key, error in (("x", KeyError), ("a\x00c", KeyError), (5, TypeError)):
            with self.assertRaises(error) as raised:
                group[key]
            self.assertEqual(raised.exception.args[:1], (key,) if error is KeyError else
                             ("GroupAttribute keys are str or bytes, not int",))
        self.assertRaises(TypeError, operator.setitem, group, "b", ONE)
        self.assertEqual(bool(P.GroupAttribute()), False)
        for use in (len, list, lambda g: g["x"], lambda g: "x" in g):
            self.assertRaises(TypeError, use, P.GroupAttribute.__new__(P.GroupAttribute))


class Builders(unittest.TestCase):
    def test_values_set_become_attributes(self):
        builder = P.GroupBuilder(P.GroupBuilderModeStrict)
        rows = [("attr", ONE, ONE), ("int", 7, P.IntAttribute(7)), ("bool", True, P.IntAttribute(1)),
                ("float", 0.1, P.FloatAttribute(0.1)), ("big float", 1e39, P.FloatAttribute(1e39)),
                ("str", "a\x00b", P.StringAttribute("a")),
                ("subclass", S.subclass(int)(3), P.IntAttribute(3))] + S.py([], [
                    (b"bytes", b"\xff\x00", P.StringAttribute("\udcff")),
                    ("\u20ac", "\u20ac", P.StringAttribute(b"\xe2\x82\xac"))])
        for name, value, expected in rows:
            self.assertIs(builder.set(name, value), builder)
        group = builder.build()
        for name, value, expected in rows:
            self.assertEqual(group.getChildByName(name), expected, name)
            self.assertIs(type(group.getChildByName(name)), type(expected))
        for bad in S.py((S.long_int(1), S.text("s")), ()) + (None, [1], 1j,
                                                             P.IntAttribute.__new__(P.IntAttribute)):
            self.assertEqual(S.message(self, TypeError, builder.set, "x", bad),
                             "Requires a string and an attr, int, float or string")
        self.assertEqual(S.message(self, OverflowError, builder.setWithUniqueName, "x", 2 ** 40),
                         "value 1099511627776 is outside the 32-bit integer range")
        for bad in (("x\x00y", 1), (1, 1), ("x",), ("x", 1, 1, 1), ("x", 1, "inherit")):
            self.assertRaises(TypeError, builder.set, *bad)
        self.assertEqual(builder.build().getNumberOfChildren(), 0)  # nothing was set

    def test_methods_and_modes(self):
        refs = sys.getrefcount
        for mode, path in ((P.GroupBuilderModeNormal, ["a"]), (P.GroupBuilderModeStrict, ["a.b"]),
                           (7, ["a"])):
            builder = P.GroupBuilder(mode, bogus=1)
            before = refs(builder)
            chained = builder.set("a.b", 1, 0).setWithUniqueName("c", 2.5).setWithUniqueName(
                "c", "x").delete("nothing").reserve(2 ** 62).setGroupInherit(0).sort()
            self.assertIs(chained, builder)
            del chained
            self.assertEqual(refs(builder), before)
            retained = builder.build(P.GroupBuilderBuildAndRetain)
            self.assertEqual(names(retained), sorted(path + ["c", "c1"]))
            self.assertFalse(retained.getGroupInherit())
            builder.update(P.GroupAttribute([("u", ONE)])).deepUpdate(retained).delete("c1")
            flushed = builder.build(5)  # any mode but retain flushes
            self.assertEqual(names(flushed), sorted(path + ["c"]) + ["u"])
            self.assertEqual((names(builder.build()), builder.build().getGroupInherit()), ([], True))
        builder = P.GroupBuilder()
        for merge in (builder.update, builder.deepUpdate):
            for bad in (5, None, "x"):
                self.assertEqual(S.message(self, TypeError, merge, bad),
                                 "Requires a string and an attr")
            merge(ONE)  # an attribute that is not a group merges nothing
        self.assertEqual(builder.build().getNumberOfChildren(), 0)
        P.GroupBuilder().set("left", 1)  # a builder that dies leaves nothing to the next one
        self.assertEqual(P.GroupBuilder(1).build().getNumberOfChildren(), 0)


class UtilAndDelimiters(unittest.TestCase):
    def test_util(self):
        # One call each, whose result shows which argument went where.
        sampled = P.FloatAttribute({0.0: [1.0], 1.0: [1.0], 2.0: [3.0]})
        self.assertEqual([P.Util.ResampleAttrWithInterp(sampled, P.StringAttribute({3.0: ["t"]})),
                          P.Util.RemoveTimeSamplesUnneededForShutter(sampled, 2, 1.5),
                          P.Util.RemoveTimeSamplesIfAllSame(P.IntAttribute({0: [4], 1: [4]}))],
                         [P.FloatAttribute({3: [3.0]}), P.FloatAttribute({1: [1.0], 2: [3.0]}),
                          P.IntAttribute(4)])
        for fn, args in ((P.Util.RemoveTimeSamplesIfAllSame, []),
                         (P.Util.RemoveTimeSamplesUnneededForShutter, [0, 1]),
                         (P.Util.ResampleAttrWithInterp, [P.GroupAttribute()])):
            for first in (5, None, P.IntAttribute.__new__(P.IntAttribute)):
                self.assertEqual(S.message(self, TypeError, fn, first, *args),
                                 "First argument must be a valid Attribute")
        for second in (5, P.GroupAttribute(), P.NullAttribute()):
            self.assertEqual(S.message(self, TypeError, P.Util.ResampleAttrWithInterp, sampled,
                                       second), "Second argument must be a valid DataAttribute")
        self.assertRaises(TypeError, P.Util.RemoveTimeSamplesUnneededForShutter, sampled, "a", 1)

    def test_delimiters(self):
        plain, encoded = "a.b/\xff%", "a%2Eb%2F\xff%25"
        self.assertEqual((P.DelimiterEncode(plain), P.DelimiterDecode(encoded)), (encoded, plain))
        for fn in (P.DelimiterEncode, P.DelimiterDecode):
            self.assertRaises(TypeError, fn, "a\x00b")
            self.assertRaises(TypeError, fn)


if __name__ == "__main__":
    unittest.main()
