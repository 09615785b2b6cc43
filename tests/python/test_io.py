"""Values leaving and entering Python: XML and binary forms, hashing and comparison, the Python
text of writePython and readPython, copies and pickles."""

import array
import copy
import os
import pickle
import struct
import subprocess
import sys
import unittest

import OvAttribute
import PyOvAttribute as P
import support as S
from support import INF, NAN, names
cPickle = pickle if S.PY3 else __import__("cPickle")


def sample_values():
    inner = P.GroupAttribute([("d", P.DoubleAttribute({-1.0: [NAN, 1e300], 2.5: [-0.0, 5]}, 2))],
                             False)
    return [
        P.IntAttribute([1, 2, 3, 4, 5, 6], 3), P.IntAttribute({0.0: [1], 1.0: [-2]}, 0),
        P.FloatAttribute({0.0: [1.5, NAN], 0.25: [INF, 3]}, 2), P.DoubleAttribute([]),
        P.StringAttribute({0.0: ["a b", "\xff\n"], 1.0: ["", "c"]}, -1), P.NullAttribute(),
        P.GroupAttribute(), P.GroupAttribute([("x.y", inner), ("g", P.GroupAttribute([("i", inner)]))]),
        # No samples at all: only a parser makes one.
        P.Attribute.parseBinary(b"OVAB" + struct.pack("<I", 1) + b"\x01\x00" +
                                struct.pack("<QQQ", 1, 1, 0) + b"\0\0"),
    ]


class Forms(unittest.TestCase):
    def test_round_trips_and_refusals(self):
        for value in sample_values() + [S.subclass(P.IntAttribute)([7])]:
            xml, blob = value.getXML(), value.getBinary()
            self.assertEqual((type(xml), type(blob)), (str, S.py(bytearray, bytes)))
            # 3: the XML as bytes too, and any bytes-like object (read where it lies).
            forms = [P.Attribute.parseXML(xml.encode())] + [P.Attribute.parseBinary(f(blob)) for f in (
                bytearray, memoryview, lambda b: array.array("b", b))] if S.PY3 else []
            for parsed in [P.Attribute.parseXML(xml), P.Attribute.parseBinary(blob),
                           P.Attribute.parseBinary(bytes(blob))] + forms:
                self.assertEqual((parsed.getHash(), parsed.getXML()), (value.getHash(), xml))
                self.assertIn(type(parsed), (type(value), P.IntAttribute))
                self.assertEqual(parsed, value)
        refused = [(P.Attribute.parseXML, "<attr", ValueError,
                    "Given string is not valid OvAttribute XML"),
                   (P.Attribute.parseXML, "a\x00b", TypeError, "")]
        refused += [(P.Attribute.parseBinary, bad, TypeError,
                     "binary representation does not parse to a valid OvAttribute")
                    for bad in (bytearray(), b"OVAB\x01\0\0\0\x09\0")]
        refused += [(P.Attribute.parseBinary, bad, TypeError,
                     "parseBinary argument must be a PyByteArray or PyString.")
                    for bad in (S.text("OVAB"), [1], None) + S.py((memoryview(b"OVAB"),), ())]
        if S.PY3:
            refused += [(P.Attribute.parseBinary, memoryview(b"OVAB\0\0\0\0")[::2], ValueError,
                         "parseBinary takes a C-contiguous buffer"),
                        (P.Attribute.parseXML, b"<x/>", ValueError, "not valid")]
        for fn, argument, error, message in refused:
            with self.assertRaises(error) as raised:
                fn(argument)
            self.assertIn(message, str(raised.exception))
            if S.PY3 and ("not valid" in message or "not parse" in message):  # the library's why
                self.assertIn("at byte", str(raised.exception.__cause__))

    def test_hash_and_comparison(self):
        values = sample_values()
        words = [v.getHash64() for v in values]
        self.assertEqual(len(set(words)), len(values))
        for value, word in zip(values, words):
            text = value.getHash()
            self.assertEqual((len(text), int(text[:16], 16)), (32, word))
            low = word & 0xffffffff
            low = low - (1 << 32) if low >= 1 << 31 else low
            self.assertEqual(hash(value), -2 if low == -1 else low)
        for a, b in zip(values, values[1:]):
            self.assertEqual(a < b, a.getHash64() < b.getHash64())
            self.assertEqual(a == b, False)
        same = S.subclass(P.IntAttribute)([1, 2, 3, 4, 5, 6], 3)
        self.assertTrue(values[0] == same and not values[0] != same)
        self.assertEqual({values[0]: "x"}[same], "x")
        self.assertNotEqual(P.IntAttribute(1), P.FloatAttribute(1.0))
        self.assertNotEqual(P.IntAttribute(1), 1)
        self.assertNotEqual(P.NullAttribute(), S.ClassLiar(P.NullAttribute))
        # The first hash words of these collide: 2.7 takes them for equal, 3 looks further.
        a, b = P.IntAttribute([1743716169, -1019467852]), P.IntAttribute([326817709, -1896318671])
        self.assertEqual((a.getHash64(), hash(a), a == b, a != b), (b.getHash64(), hash(b),
                                                                    not S.PY3, S.PY3))
        if S.PY3:
            self.assertEqual([a < b, a <= b, a > b, a >= b], [a.getHash() < b.getHash()] * 2 +
                             [a.getHash() > b.getHash()] * 2)
            self.assertEqual((a <= a, a >= P.IntAttribute([1743716169, -1019467852])), (True, True))
            for op in (lambda x, y: x < y, lambda x, y: y >= x):
                self.assertRaises(TypeError, op, a, 1)


class PythonText(unittest.TestCase):
    class File(list):
        write = list.append

    def text_of(self, value):
        out = self.File()
        self.assertIsNone(value.writePython(out))
        return out

    def test_write_and_read_back(self):
        two = P.IntAttribute({0.0: [1, 2], 0.5: [3, 4]}, 2)  # in tuples of two
        self.assertEqual(self.text_of(two), ["OvAttribute.IntAttribute(%r, 2)" % two.getSamples()])
        self.assertEqual(self.text_of(S.subclass(P.FloatAttribute)(0.5)),
                         ["OvAttribute.SubFloatAttribute({0.0: [0.5]}, 1)"])
        self.assertEqual("".join(self.text_of(P.GroupAttribute([("a'", P.IntAttribute(1))], 0))),
                         "OvAttribute.GroupAttribute([(\"a'\", OvAttribute.IntAttribute("
                         "{0.0: [1]}, 1)), ], False)")
        # 2.7: strings holding a line end do not read back (the text is not valid Python). 3:
        # every value does, through readPython and through eval() alike.
        strings = P.StringAttribute(["it's", 'say "hi"', "back\\slash\n", "\u20ac", "\udcff"])
        for value in sample_values()[:S.py(4, 5)] + sample_values()[6:8] + S.py([], [strings]):
            text = "".join(self.text_of(value))
            self.assertEqual(OvAttribute.readPython(text), value, text)
            if S.PY3:
                self.assertEqual(eval(text, {"OvAttribute": OvAttribute}), value, text)
        out = self.File()
        self.assertRaises(AttributeError, P.NullAttribute().writePython, out)
        self.assertEqual(out, [])
        group = P.GroupAttribute([("a", P.IntAttribute(1)), ("n", P.NullAttribute())])
        self.assertRaises(AttributeError, group.writePython, out)
        self.assertEqual(out[-1], "('n', ")
        self.assertRaises(AttributeError, P.IntAttribute(1).writePython, 5)
        self.assertRaises(ValueError, P.IntAttribute(1).writePython,
                          S.subclass(object, write=S._raise)())

    def test_read_python_runs_nothing(self):
        payload = "'+str(__import__('os').environ.__setitem__('OVATTR_RAN', '1'))+'"
        written = "".join(self.text_of(P.StringAttribute([payload])))
        if S.PY3:  # written as the string it is
            self.assertEqual(OvAttribute.readPython(written), P.StringAttribute([payload]))
        refused = [
            (written, "BinOp where a literal belongs"),
            ("__import__('os').system('true')", "where an OvAttribute call belongs"),
            ("OvAttribute.IntAttribute(x, 1)", "Name where a literal belongs"),
            ("OvAttribute.IntAttribute({0.0: [1]}, tupleSize=1)", "keyword or star"),
            ("OvAttribute.IntAttribute(*[{0.0: [1]}, 1])", "keyword or star"),
            ("OvAttribute.Util({0.0: [1]}, 1)", "OvAttribute.Util with 2 arguments"),
            ("OvAttribute.IntAttribute({0.0: [1j]}, 1)", "a literal of type complex"),
            ("OvAttribute.IntAttribute({0.0: [-'a']}, 1)", "a sign before something"),
            ("OvAttribute.IntAttribute([1], 1)", "takes a dictionary of samples"),
            ("OvAttribute.IntAttribute({0.0: ['a']}, 1)", "TypeError: Requires an int"),
            ("OvAttribute.IntAttribute({0.0: [1099511627776]}, 1)", "OverflowError"),
            ("OvAttribute.GroupAttribute([('a', 1)], True)", "where an OvAttribute call"),
            ("OvAttribute.GroupAttribute([('a',)], True)", "not a (name, attribute) pair"),
            ("OvAttribute.GroupAttribute([], 1)", "not True or False"),
            ("OvAttribute.GroupAttribute([(1, OvAttribute.GroupAttribute([], True))], True)",
             "child name that is not a string"),
            ("OvAttribute.GroupAttribute([" * 400 + "]" * 400, "not attribute text"),
            ("OvAttribute.IntAttribute(", "SyntaxError"), ("lambda: 1", "Lambda where"),
            ("OvAttribute.IntAttribute({0.0: [float('1')]}, 1)", "Call where"),
            ("OvAttribute.IntAttribute({0.0: [int('nan')]}, 1)", "Call where"),
        ][S.PY3:]  # 3 reads the first text back (above)
        for text, message in refused:
            self.assertIn(message, S.message(self, ValueError, OvAttribute.readPython, text),
                          text[:60])
        self.assertRaises(ValueError, OvAttribute.readPython, 5)
        self.assertNotIn("OVATTR_RAN", os.environ)


COPIERS = [("copy", copy.copy), ("deepcopy", copy.deepcopy)] + [
    ("%s %d" % (module.__name__, protocol),
     lambda value, module=module, protocol=protocol: module.loads(module.dumps(value, protocol)))
    for module in set([pickle, cPickle]) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)]


class Copies(unittest.TestCase):
    def test_values_builders_and_vectors(self):
        builder = P.GroupBuilder(P.GroupBuilderModeStrict).set("a.b", 1).setGroupInherit(False)
        vector = P.StringAttribute(["a", "b", "c"]).getData()[1:]
        for name, copier in COPIERS:
            for value in sample_values():
                duplicate = copier(value)
                self.assertEqual((type(duplicate), duplicate.getXML()), (type(value),
                                                                           value.getXML()))
            twin = copier(builder).set("c", 2)  # independent of the original
            self.assertEqual(names(builder.build(1)), ["a.b"])
            self.assertEqual((names(twin.build(1)), twin.build().getGroupInherit()),
                             (["a.b", "c"], False))
            self.assertEqual((type(copier(vector)), list(copier(vector))), (P.ConstVector,
                                                                            ["b", "c"]))

    def test_refusals_and_damage(self):
        # Subclass instances, and every object made by __new__ alone, whatever its type.
        for obj, message in [(S.subclass(P.IntAttribute)(1), "Python subclasses"),
                             (S.subclass(P.GroupBuilder)(), "Python subclasses"),
                             (S.subclass(P.GroupAttribute, __getattr__=S.missing)(), "subclasses"),
                             (P.GroupBuilder.__new__(P.GroupBuilder), "not initialised")] + \
                [(empty, "") for empty in S.empty_objects()]:
            for name, copier in COPIERS:
                self.assertIn(message, S.message(self, TypeError, copier, obj), name)
        own = S.subclass(P.IntAttribute, __reduce__=lambda self: (P.IntAttribute, ([9],)))
        self.assertEqual(copy.copy(own([1])), P.IntAttribute([9]))
        blob = cPickle.dumps(P.FloatAttribute({0.0: [1.0, 2.0], 1.0: [3.0, 4.0]}), 2)
        self.assertIn("does not parse", S.message(self, TypeError, cPickle.loads,
                                                  blob.replace(b"OVAB", b"OVAC")))
        for kind in (P.Attribute, P.IntAttribute, P.GroupBuilder, P.ConstVector):
            self.assertNotIn("__reduce_ex__", vars(kind))

    def test_pickles_load_in_a_fresh_process(self):
        script = ("import pickle, sys\n"
                  "data = sys.stdin.buffer.read() if sys.version_info[0] > 2 else sys.stdin.read()\n"
                  "print([v.getHash() for v in pickle.loads(data)])\n")
        child = subprocess.Popen([sys.executable, "-c", script], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE)
        out = child.communicate(cPickle.dumps(sample_values(), 2))[0]
        self.assertEqual(out.decode().strip(), repr([v.getHash() for v in sample_values()]))


if __name__ == "__main__":
    unittest.main()
