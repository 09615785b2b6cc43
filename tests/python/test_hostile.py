"""Every constructor, method, slot and function of the module, called with every hostile value
in every argument position through the call harness (support.Calls), and the leak check: the
same harness run many times over the success and failure paths."""

import copy
import operator
import pickle
import unittest

import PyOvAttribute as P
import support as S
from support import stringio

class Sweep(unittest.TestCase):
    def test_harness_notices_what_it_looks_for(self):
        import ctypes
        calls, kept = S.Calls(), object()
        ctypes.pythonapi.Py_IncRef.argtypes = [ctypes.py_object]
        calls("leak", ctypes.pythonapi.Py_IncRef, kept)

        def broken():
            raise SystemError("error return without exception set")
        calls("system error", broken)
        self.assertEqual(len(calls.problems), 2, calls.problems)
        ctypes.pythonapi.Py_DecRef.argtypes = [ctypes.py_object]
        ctypes.pythonapi.Py_DecRef(kept)

    def test_methods(self):
        calls = S.Calls()
        for receiver in S.receivers():
            kind = type(receiver).__name__
            for name in S.methods(receiver):
                method, args = getattr(type(receiver), name), S.good_args(receiver, name)
                calls("%s.%s" % (kind, name), method, receiver, *args)
                values = S.VALUES + S.reentrant_values(receiver)
                for position in range(len(args)):
                    for label, make in values:
                        hostile = S.good_args(receiver, name)
                        hostile[position] = make()
                        calls("%s.%s arg %d <- %s" % (kind, name, position, label), method,
                              receiver, *hostile)
                calls("%s.%s extra" % (kind, name), method, receiver, *(args + [None]))
        calls.check(self)

    def test_functions_and_static_parsers(self):
        calls = S.Calls()
        functions = [(f, []) for f in (P.DelimiterEncode, P.DelimiterDecode,
                                       P.Attribute.parseXML, P.Attribute.parseBinary,
                                       P.Util.RemoveTimeSamplesIfAllSame)]
        functions += [(P.Util.RemoveTimeSamplesUnneededForShutter, [P.IntAttribute(1), 0.0, 1.0]),
                      (P.Util.ResampleAttrWithInterp, [P.IntAttribute(1), S.attributes()[1]])]
        for fn, args in functions:
            for position in range(max(len(args), 1)):
                for label, make in S.VALUES:
                    hostile = list(args) or [None]
                    hostile[position] = make()
                    calls("%s arg %d <- %s" % (fn.__name__, position, label), fn, *hostile)
        calls.check(self)

    def test_constructors(self):
        calls = S.Calls()
        kinds = S.ATTRIBUTE_TYPES + tuple(S.subclass(t) for t in S.ATTRIBUTE_TYPES)
        kinds += (P.GroupBuilder, P.ConstVector)
        for kind in kinds:
            name = kind.__name__
            for label, make in S.VALUES:
                calls("%s(v) <- %s" % (name, label), kind, make())
                calls("%s(v, v) <- %s" % (name, label), kind, make(), make())
                calls("%s([1, 2], v) <- %s" % (name, label), kind, [1, 2], make())
                calls("%s(attrdata=v) <- %s" % (name, label), lambda v: kind(attrdata=v), make())
                calls("%s.__new__(v) <- %s" % (name, label), kind.__new__, make())
                if kind is not P.ConstVector:
                    existing = kind.__new__(kind)
                    calls("%s.__init__ again <- %s" % (name, label), kind.__init__, existing,
                          make())
            if kind is not P.ConstVector:
                target = kind.__new__(kind)
                for label, make in S.reentrant_values(target):
                    calls("%s.__init__([], v) <- %s" % (name, label), kind.__init__, target, [],
                          make())
        calls.check(self)

    def test_slots_and_protocols(self):
        calls = S.Calls()
        unary = [hash, repr, str, bool, len, list, dir, lambda v: v[-1], lambda v: v[::-1],
                 lambda v: v[1:][1:], lambda v: list(reversed(v)), lambda v: v.__init__()]
        binary = [operator.eq, operator.ne, operator.lt, operator.ge, lambda a, b: b == a,
                  lambda a, b: b < a, lambda a, b: a in [b], lambda a, b: len(set([a, b])),
                  lambda v, x: v[x], lambda v, x: v[x:], lambda v, x: v[:x], lambda v, x: x in v,
                  operator.add, operator.mul, lambda v, x: v.__init__(x)]
        if not S.PY3:
            binary.append(cmp)  # noqa: F821
        for receiver in S.attributes()[::2] + S.empty_objects()[::3] + S.vectors():
            for fn in unary:
                calls("%s unary" % type(receiver).__name__, fn, receiver)
            for label, make in S.VALUES:
                for fn in binary:
                    calls("%s binary <- %s" % (type(receiver).__name__, label), fn, receiver,
                          make())
        for obj in S.receivers():
            for copier in (copy.copy, copy.deepcopy, lambda o: pickle.loads(pickle.dumps(o, 2)),
                           lambda o: pickle.loads(pickle.dumps(o, 0))):
                calls("copy %s" % type(obj).__name__, copier, obj)
        calls.check(self)

    def test_nesting_past_the_parse_limit(self):
        # The parse limit is the library's; no module path may recurse on deeper values.
        calls = S.Calls()
        deep = P.GroupBuilder().set(".".join(["a"] * 20000), 1).build()
        for value in (deep, S.deep_group(12000)):
            for fn in (P.Attribute.getHash, P.Attribute.getXML, P.Attribute.getBinary,
                       P.GroupAttribute.childList, P.Util.RemoveTimeSamplesIfAllSame,
                       lambda v: P.Attribute.parseXML(v.getXML()) == v,
                       lambda v: P.GroupBuilder().deepUpdate(v).build(),
                       lambda v: v.writePython(stringio.StringIO())):
                calls("deep", fn, value)
        del deep, value  # destroying them must not recurse either
        calls.check(self)


class Leaks(unittest.TestCase):
    """Success and failure paths, many times: references and resident memory come back."""

    def test_operations(self):
        ints = list(range(1000))
        floats = [i * 0.25 for i in range(1000)]
        strings = ["value-%04d" % i for i in range(400)]
        group = P.GroupAttribute([("i", P.IntAttribute(ints)), ("s", P.StringAttribute(strings)),
                                  ("g", P.GroupAttribute([("f", P.FloatAttribute(floats))]))])
        sampled = P.FloatAttribute({0.0: floats, 0.5: floats, 1.0: floats})
        text, blob = group.getXML(), group.getBinary()
        reinit = S.Reinitialiser(lambda: target.__init__([("a", P.IntAttribute(ints))]), 1)
        target = P.GroupAttribute.__new__(P.GroupAttribute)
        operations = [
            ("typed forms", lambda: (P.IntAttribute(ints, 2), P.StringAttribute(strings),
                                     P.DoubleAttribute({0.0: floats, 1.0: floats}))),
            ("failing forms", lambda: [S.attempt(k, v) for k, v in (
                (P.IntAttribute, [1, "a"]), (P.StringAttribute, strings + [5]),
                (P.FloatAttribute, {0.0: floats, 1.0: [1.0]}), (P.IntAttribute, S.Raising()))]),
            ("reads", lambda: (sampled.getSamples(), sampled.getNearestSample(0.7)[1:5],
                               sampled.getSampleTimes(), group.childList(), repr(
                                   sampled.getData()), sampled.getData().index(0.5))),
            ("forms", lambda: (P.Attribute.parseXML(text), P.Attribute.parseBinary(blob),
                               group.getXML(), group.getBinary(), group.getHash(),
                               P.Util.ResampleAttrWithInterp(group, sampled))),
            ("refused forms", lambda: [S.attempt(f, v) for f, v in (
                (P.Attribute.parseXML, text[:-9]), (P.Attribute.parseBinary, blob[:-3]))]),
            ("builder", lambda: P.GroupBuilder().set("a.b", 1).set("s", "x").setWithUniqueName(
                "s", 2.5).update(group).deepUpdate(group).delete("a.b").build(1)),
            ("copies", lambda: (copy.deepcopy([group, sampled]), pickle.loads(pickle.dumps(
                sampled.getData(), 2)), pickle.loads(pickle.dumps(P.GroupBuilder(), 2)))),
            ("re-entered initialiser", lambda: target.__init__([("b", P.IntAttribute(ints))],
                                                               reinit)),
            ("python text", lambda: group.writePython(stringio.StringIO())),
            # Objects made and dropped in numbers that a lost deallocation would show.
            ("objects", lambda: [(sampled.getData()[1:], P.GroupBuilder(), P.NullAttribute(),
                                  P.IntAttribute.__new__(P.IntAttribute)) for _ in range(100)]),
        ]
        calls = S.Calls()
        for label, operation in operations:
            calls.repeat(label, S.LEAK_ROUNDS, operation)
        calls.check(self)


if __name__ == "__main__":
    unittest.main()
