"""Copies and pickles: every kind of value comes back equal and of its type, or the call raises
TypeError; never an object that lost its value."""

import copy
import cPickle
import os
import pickle
import struct
import subprocess
import sys
import unittest

import PyOvAttribute as P

NAN = float("nan")

COPIERS = [("copy", copy.copy), ("deepcopy", copy.deepcopy)] + [
    ("%s protocol %d" % (module.__name__, protocol),
     lambda value, module=module, protocol=protocol: module.loads(module.dumps(value, protocol)))
    for module in (pickle, cPickle) for protocol in (0, 1, 2)]


def values():
    inner = P.GroupAttribute([("d", P.DoubleAttribute({-1.0: [NAN, 1e300], 2.5: [-0.0, 5]}, 2))],
                             False)
    return [
        P.IntAttribute([1, 2, 3, 4, 5, 6], 3), P.IntAttribute({0.0: [1], 1.0: [-2]}, 0),
        P.FloatAttribute({0.0: [1.5, NAN], 0.25: [float("inf"), 3]}, 2),
        P.DoubleAttribute([]), P.StringAttribute({0.0: ["a b", "\xff\n"], 1.0: ["", "c"]}, -1),
        P.NullAttribute(), P.GroupAttribute(),
        P.GroupAttribute([("x.y", inner), ("g", P.GroupAttribute([("i", inner)]))], True),
        # No samples at all: only a parser makes one.
        P.Attribute.parseBinary("OVAB" + struct.pack("<I", 1) + "\x01\x00" +
                                struct.pack("<QQQ", 1, 1, 0) + "\0\0"),
    ]


class CopiesAndPickles(unittest.TestCase):
    def test_every_kind_every_way(self):
        for value in values():
            for name, copier in COPIERS:
                result = copier(value)
                self.assertIs(type(result), type(value), name)
                self.assertEqual(result.getHash(), value.getHash(), name)
                self.assertEqual(result.getXML(), value.getXML(), name)

    def test_values_inside_containers(self):
        data = {"list": values(), "nested": {"k": (P.IntAttribute(7),)}}
        for name, copier in COPIERS:
            result = copier(data)
            self.assertEqual([v.getHash() for v in result["list"]],
                             [v.getHash() for v in data["list"]], name)
            self.assertEqual(result["nested"]["k"][0], P.IntAttribute(7), name)

    def test_pickles_load_in_a_fresh_process(self):
        # The pickle names what it needs; the process imports nothing else itself.
        blob = cPickle.dumps(values(), 2)
        script = ("import cPickle, sys\n"
                  "print([v.getHash() for v in cPickle.loads(sys.stdin.read())])\n")
        child = subprocess.Popen([sys.executable, "-c", script], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, env=dict(os.environ))
        out, _ = child.communicate(blob)
        self.assertEqual(child.returncode, 0)
        self.assertEqual(out.strip(), repr([v.getHash() for v in values()]))
        self.assertNotIn(hex(id(values()[0]))[2:], blob)

    def test_damaged_pickles_raise(self):
        blob = cPickle.dumps(P.FloatAttribute({0.0: [1.0, 2.0], 1.0: [3.0, 4.0]}), 2)
        start = blob.index("OVAB")
        damaged = [blob[:start + 20] + blob[start + 21:],            # a byte short
                   blob[:start + 30] + "\x7f" + blob[start + 31:],  # a count altered
                   blob.replace("OVAB", "OVAC")]
        for text in damaged:
            self.assertRaises(Exception, cPickle.loads, text)

    def test_builders_copy_independently(self):
        for mode in (P.GroupBuilderModeNormal, P.GroupBuilderModeStrict):
            builder = P.GroupBuilder(mode).set("a.b", 1).set("c", "x").setGroupInherit(False)
            for name, copier in COPIERS:
                duplicate = copier(builder)
                self.assertIs(type(duplicate), P.GroupBuilder)
                duplicate.set("a.z", 2.5)  # a path in normal mode, a plain name in strict mode
                self.assertEqual(builder.build(1).getHash(),
                                 P.GroupBuilder(mode).set("a.b", 1).set("c", "x")
                                 .setGroupInherit(False).build().getHash(), name)
                expected = P.GroupBuilder(mode).set("a.b", 1).set("c", "x").set("a.z", 2.5)
                self.assertEqual(duplicate.build(), expected.setGroupInherit(False).build(), name)

    def test_vectors_copy_as_equal_vectors(self):
        vectors = [P.StringAttribute(["a", "b", "c"]).getData()[1:],
                   P.DoubleAttribute({0.0: [1.0], 1.0: [2.0, ]}).getNearestSample(1.0),
                   P.GroupAttribute().getChildByName("x") or P.IntAttribute([]).getData()]
        for vector in vectors:
            for name, copier in COPIERS:
                duplicate = copier(vector)
                self.assertIs(type(duplicate), P.ConstVector, name)
                self.assertEqual(list(duplicate), list(vector), name)

    def test_subclasses_and_objects_without_value_refuse(self):
        class MyInt(P.IntAttribute):
            pass

        class MyBuilder(P.GroupBuilder):
            pass

        class Dynamic(P.GroupAttribute):
            def __getattr__(self, name):
                raise AttributeError(name)

        class Pickled(P.IntAttribute):
            def __reduce__(self):
                return (P.IntAttribute, ([9],))

        for obj, message in [(MyInt(1), "Python subclasses"), (MyBuilder(), "Python subclasses"),
                             (Dynamic(), "Python subclasses"),
                             (P.IntAttribute.__new__(P.IntAttribute), "holds no value"),
                             (P.GroupBuilder.__new__(P.GroupBuilder), "not initialised")]:
            for name, copier in COPIERS:
                with self.assertRaises(TypeError) as cm:
                    copier(obj)
                self.assertIn(message, str(cm.exception), name)
        self.assertEqual(copy.copy(Pickled([1])), P.IntAttribute([9]))

    def test_the_surface_stays_as_it_was(self):
        # Copies and pickles are reached without a name of their own on any type.
        for kind in (P.Attribute, P.IntAttribute, P.GroupBuilder, P.ConstVector):
            self.assertNotIn("__reduce_ex__", vars(kind))
            self.assertNotIn("__reduce__", vars(kind))
        self.assertEqual(sorted(n for n in dir(P) if not n.startswith("__")), sorted([
            "Attribute", "ConstVector", "DataAttribute", "DelimiterDecode", "DelimiterEncode",
            "DoubleAttribute", "FloatAttribute", "GroupAttribute", "GroupBuilder",
            "GroupBuilderBuildAndFlush", "GroupBuilderBuildAndRetain", "GroupBuilderModeNormal",
            "GroupBuilderModeStrict", "IntAttribute", "NullAttribute", "StringAttribute",
            "Util"]))


if __name__ == "__main__":
    unittest.main()
