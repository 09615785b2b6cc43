"""Hostile-input sweep: every constructor, method, slot and module function of PyOvAttribute,
called with every value of hostile_values.VALUES in every argument position.

A call may return or raise whatever it likes. What it must never do: crash, raise SystemError
(the interpreter's verdict on a C function that returned null without an error, or misused an
API), leave a Python error pending behind a successful return (the 2.7 interpreter does not
notice that; the next unrelated C call then fails mysteriously), or change the reference count
of its receiver or of an argument (a leaked or stolen reference).

Set OVATTR_HOSTILE_TRACE to a file name to have the label of each call written there before it
runs: after a crash, the file's last line names the call.
"""

import copy
import ctypes
import gc
import operator
import os
import pickle
import StringIO
import struct
import sys
import unittest
import warnings

import PyOvAttribute as P

import hostile_values as H

# PyErr_Occurred through ctypes: a function of the Python API, so ctypes raises the pending
# error itself when there is one.
_err_occurred = ctypes.pythonapi.PyErr_Occurred
_err_occurred.restype = ctypes.c_void_p
_err_occurred.argtypes = []

_TRACE = None
if os.environ.get("OVATTR_HOSTILE_TRACE"):
    _TRACE = open(os.environ["OVATTR_HOSTILE_TRACE"], "w")

# Reference counts of objects shared across the interpreter (None, small ints, interned text,
# type objects) move with unrelated work; only objects the sweep owns are watched.
_PRIVATE_REFCOUNT_LIMIT = 12

# Comparing a str of high bytes with unicode warns; the sweep does that on purpose.
warnings.simplefilter("ignore", UnicodeWarning)

CALLS = [0]
COUNTS = []


def _pending_error():
    """The Python error left set behind the last successful call, or None."""
    try:
        if _err_occurred():
            return "an error is set but ctypes did not raise it"
    except BaseException as error:  # pylint: disable=broad-except
        return "%s: %s" % (type(error).__name__, error)
    return None


def _watched(objects):
    """The objects whose counts the sweep compares, each once."""
    watched = []
    seen = set()
    for obj in objects:
        if id(obj) in seen or isinstance(obj, type) or id(obj) in H.UNWATCHED:
            continue
        seen.add(id(obj))
        if sys.getrefcount(obj) <= _PRIVATE_REFCOUNT_LIMIT:
            watched.append(obj)
    return watched


class Sweep(object):
    """Runs calls and collects what went wrong, so that one test reports every offender."""

    def __init__(self):
        self.problems = []
        self.started = CALLS[0]

    def call(self, label, fn, receiver=None, args=(), kwargs=None):
        kwargs = kwargs or {}
        CALLS[0] += 1
        if _TRACE is not None:
            _TRACE.write(label + "\n")
            _TRACE.flush()
        # Counted only once the temporary list is gone: it holds references too.
        watched = _watched([receiver] + list(args) + list(kwargs.values()))
        counts = [sys.getrefcount(watched[i]) for i in range(len(watched))]
        outcome = None
        try:
            if receiver is None:
                result = fn(*args, **kwargs)
            else:
                result = fn(receiver, *args, **kwargs)
            del result
        except SystemError as error:
            outcome = "SystemError: %s" % error
        except BaseException:  # pylint: disable=broad-except
            pass
        sys.exc_clear()
        pending = _pending_error()
        if pending is not None:
            self.problems.append("%s: returned with an error pending (%s)" % (label, pending))
        if outcome is not None:
            self.problems.append("%s: %s" % (label, outcome))
        for index in range(len(watched)):
            after = sys.getrefcount(watched[index])
            if after != counts[index]:
                self.problems.append("%s: reference count of %s went from %d to %d" % (
                    label, _short(watched[index]), counts[index] - 1, after - 1))
        H.UNWATCHED.clear()

    def check(self, case):
        COUNTS.append((case.id().split(".", 1)[1], CALLS[0] - self.started))
        gc.collect()
        _interpreter_still_works(case)
        if self.problems:
            shown = "\n".join(self.problems[:60])
            case.fail("%d problem(s):\n%s" % (len(self.problems), shown))


def _short(obj):
    try:
        text = repr(obj)
    except BaseException:  # pylint: disable=broad-except
        text = "<%s>" % type(obj).__name__
    return text if len(text) < 60 else text[:57] + "..."


def _interpreter_still_works(case):
    case.assertEqual(eval("1 + 1"), 2)
    case.assertEqual(P.DelimiterEncode("a.b"), P.DelimiterEncode("a.b"))
    vector = P.IntAttribute([1, 2, 3], 1).getData()
    case.assertEqual(vector[2], 3)
    case.assertEqual(len(list(vector)), 3)
    case.assertIsNone(_pending_error())


def _values():
    return H.VALUES


def _few_values():
    """For call shapes whose argument is refused before it is looked at (wrong counts)."""
    return [(label, f) for label, f in H.VALUES if label in ("None", "NUL inside", "nan",
                                                             "2**64", "IntAttribute")]


def _labelled(prefix, values):
    for label, factory in values:
        yield "%s <- %s" % (prefix, label), factory


# Positional arguments that each method accepts: the sweep puts a hostile value in one position
# at a time and keeps these in the others.
def _default_args(receiver, name):
    group = P.GroupAttribute([("a", P.IntAttribute(1)), ("g", P.GroupAttribute())])
    defaults = {
        "parseXML": lambda: [P.IntAttribute([1, 2]).getXML()],
        "parseBinary": lambda: [P.IntAttribute([1, 2]).getBinary()],
        "writePython": lambda: [StringIO.StringIO()],
        "getSampleTime": lambda: [0],
        "getBoundingSampleTimes": lambda: [0.25],
        "getNearestSample": lambda: [0.25],
        "getChildName": lambda: [0],
        "getChildByIndex": lambda: [1],
        "getChildByName": lambda: ["a"],
        "set": lambda: ["a.b", 1, 1],
        "setWithUniqueName": lambda: ["a", 2.5, 0],
        "delete": lambda: ["a"],
        "update": lambda: [group],
        "deepUpdate": lambda: [group],
        "reserve": lambda: [4],
        "build": lambda: [1],
        "setGroupInherit": lambda: [0],
        "count": lambda: [1],
        "index": lambda: [1],
    }
    if name == "getValue":
        if isinstance(receiver, P.StringAttribute):
            return ["dflt", 0]
        return [7, 0]
    return defaults.get(name, list)()


def _module_methods(obj):
    """Names of the methods that the module's own types give `obj`, static ones excluded."""
    names = set()
    for klass in type(obj).__mro__:
        if klass.__module__ != "PyOvAttribute":
            continue
        for name, member in vars(klass).items():
            if name.startswith("__") or isinstance(member, staticmethod):
                continue
            if callable(getattr(obj, name, None)) and not isinstance(
                    getattr(klass, name), staticmethod):
                names.add(name)
    return sorted(names - set(["parseXML", "parseBinary"]))


def _sweep_methods(sweep, receivers, names_for=_module_methods):
    for receiver in receivers:
        kind = type(receiver).__name__
        for name in names_for(receiver):
            method = getattr(type(receiver), name)
            base = "%s.%s" % (kind, name)
            defaults = _default_args(receiver, name)
            sweep.call(base + str(tuple(defaults)), method, receiver, defaults)
            for position in range(len(defaults)):
                for label, factory in _values() + H.reentrant_values(receiver):
                    args = _default_args(receiver, name)
                    args[position] = factory()
                    sweep.call("%s arg %d <- %s" % (base, position, label), method, receiver,
                               args)
            for label, factory in _few_values() if defaults else _values():
                args = _default_args(receiver, name) + [factory()]
                sweep.call("%s extra arg <- %s" % (base, label), method, receiver, args)


class HarnessSelfTest(unittest.TestCase):
    """The sweep's verdicts are only worth something if it notices the faults it looks for."""

    def test_flags_system_error_and_reference_changes(self):
        sweep = Sweep()

        def system_error():
            raise SystemError("error return without exception set")

        leaked = [object()]
        incref = ctypes.pythonapi.Py_IncRef
        incref.argtypes = [ctypes.py_object]
        sweep.call("system error", system_error)
        sweep.call("leaked reference", incref, args=[leaked[0]])
        sweep.call("plain", len, args=[[1]])
        self.assertEqual(len(sweep.problems), 2, sweep.problems)
        self.assertIn("SystemError", sweep.problems[0])
        self.assertIn("reference count", sweep.problems[1])
        ctypes.pythonapi.Py_DecRef.argtypes = [ctypes.py_object]
        ctypes.pythonapi.Py_DecRef(leaked[0])


class ModuleFunctionSweep(unittest.TestCase):
    def test_delimiter_functions(self):
        sweep = Sweep()
        for fn in (P.DelimiterEncode, P.DelimiterDecode):
            sweep.call(fn.__name__ + "()", fn)
            for label, factory in _values():
                sweep.call("%s <- %s" % (fn.__name__, label), fn, args=[factory()])
            for label, factory in _few_values():
                sweep.call("%s two args <- %s" % (fn.__name__, label), fn,
                           args=["a", factory()])
        sweep.check(self)

    def test_util_functions(self):
        sweep = Sweep()
        util = P.Util
        firsts = [P.IntAttribute({0.0: [1], 1.0: [1], 2.0: [2]}),
                  P.FloatAttribute({0.0: [1.0, 2.0], 0.5: [3.0, H.NAN]}),
                  P.StringAttribute({0.0: ["a"], 1.0: ["a"]}),
                  H.deep_group(20), P.NullAttribute()]
        times = P.DoubleAttribute({0.0: [0.0], 0.25: [0.0], 0.75: [0.0]})
        shapes = [
            ("RemoveTimeSamplesIfAllSame", lambda a: [a]),
            ("RemoveTimeSamplesUnneededForShutter", lambda a: [a, 0.0, 1.0]),
            ("ResampleAttrWithInterp", lambda a: [a, times]),
        ]
        for name, make in shapes:
            fn = getattr(util, name)
            sweep.call(name + "()", fn)
            for first in firsts:
                arity = len(make(first))
                for position in range(arity):
                    for label, factory in _values():
                        args = make(first)
                        args[position] = factory()
                        sweep.call("%s arg %d <- %s" % (name, position, label), fn, args=args)
                for label, factory in _few_values():
                    sweep.call("%s extra <- %s" % (name, label), fn,
                               args=make(first) + [factory()])
        sweep.check(self)


class ConstructionSweep(unittest.TestCase):
    def _typed_kinds(self):
        kinds = [P.IntAttribute, P.FloatAttribute, P.DoubleAttribute, P.StringAttribute]
        return kinds + [H.SUBCLASSES[k] for k in kinds]

    def test_typed_constructors(self):
        sweep = Sweep()
        for kind in self._typed_kinds():
            name = kind.__name__
            sweep.call(name + "()", kind)
            for label, factory in _values():
                sweep.call("%s(v) <- %s" % (name, label), kind, args=[factory()])
                sweep.call("%s(v, 2) <- %s" % (name, label), kind, args=[factory(), 2])
                sweep.call("%s(seq, v) <- %s" % (name, label), kind, args=[[1, 2, 3, 4],
                                                                           factory()])
                sweep.call("%s(attrdata=v) <- %s" % (name, label), kind,
                           kwargs={"attrdata": factory()})
                sweep.call("%s(x, tupleSize=v) <- %s" % (name, label), kind, args=[["a"]],
                           kwargs={"tupleSize": factory()})
                existing = H.first_value(kind)
                sweep.call("%s.__init__(again, v) <- %s" % (name, label), kind.__init__,
                           existing, [factory()])
            for label, factory in _few_values():
                sweep.call("%s three args <- %s" % (name, label), kind,
                           args=[[1], 1, factory()])
                sweep.call("%s bad keyword <- %s" % (name, label), kind, args=[[1]],
                           kwargs={"bogus": factory()})
        sweep.check(self)

    def test_group_and_null_constructors(self):
        sweep = Sweep()
        groups = [P.GroupAttribute, H.SUBCLASSES[P.GroupAttribute]]
        for kind in groups:
            name = kind.__name__
            for label, factory in _values():
                sweep.call("%s(v) <- %s" % (name, label), kind, args=[factory()])
                sweep.call("%s(v, 0) <- %s" % (name, label), kind, args=[factory(), 0])
                sweep.call("%s([], v) <- %s" % (name, label), kind, args=[[], factory()])
                sweep.call("%s(children=v) <- %s" % (name, label), kind,
                           kwargs={"children": factory()})
                sweep.call("%s(groupInherit=v) <- %s" % (name, label), kind,
                           kwargs={"groupInherit": factory()})
                sweep.call("%s.__init__(again, v) <- %s" % (name, label), kind.__init__,
                           kind([("a", P.NullAttribute())]), [factory()])
            existing = kind([("a", P.NullAttribute())])
            for label, factory in H.reentrant_values(existing):
                sweep.call("%s.__init__(again, [], v) <- %s" % (name, label), kind.__init__,
                           existing, [[("b", P.IntAttribute(1))], factory()])
        others = [P.NullAttribute, H.SUBCLASSES[P.NullAttribute], P.Attribute, P.DataAttribute,
                  H.SUBCLASSES[P.Attribute], H.SUBCLASSES[P.DataAttribute], P.GroupBuilder,
                  H.SUBCLASSES[P.GroupBuilder], P.ConstVector]
        for kind in others:
            name = kind.__name__
            sweep.call(name + "()", kind)
            for label, factory in _values():
                sweep.call("%s(v) <- %s" % (name, label), kind, args=[factory()])
                sweep.call("%s(k=v) <- %s" % (name, label), kind, kwargs={"mode": factory()})
                if kind is not P.ConstVector:
                    sweep.call("%s.__init__(again, v) <- %s" % (name, label), kind.__init__,
                               kind.__new__(kind), [factory()])
        sweep.check(self)

    def test_new_and_copies(self):
        sweep = Sweep()
        kinds = [P.Attribute, P.DataAttribute, P.IntAttribute, P.FloatAttribute,
                 P.DoubleAttribute, P.StringAttribute, P.GroupAttribute, P.NullAttribute,
                 P.GroupBuilder, P.ConstVector]
        for kind in kinds:
            sweep.call("object.__new__(%s)" % kind.__name__, object.__new__, args=[kind])
            for label, factory in _values():
                sweep.call("%s.__new__(v) <- %s" % (kind.__name__, label), kind.__new__,
                           args=[factory()])
            for other in kinds + [H.SUBCLASSES[P.IntAttribute], object, int]:
                sweep.call("%s.__new__(%s)" % (kind.__name__, other.__name__), kind.__new__,
                           args=[other])
        # Copies and pickles go through __reduce_ex__, which makes objects by __new__ alone.
        copiers = [("copy", copy.copy), ("deepcopy", copy.deepcopy),
                   ("pickle", lambda o: pickle.loads(pickle.dumps(o, 2))),
                   ("pickle0", lambda o: pickle.loads(pickle.dumps(o, 0)))]
        objects = H.valid_attributes() + H.null_attributes() + H.builders() + H.const_vectors()
        duplicates = []
        for obj in objects:
            for name, copier in copiers:
                sweep.call("%s(%s)" % (name, type(obj).__name__), copier, args=[obj])
                try:
                    duplicates.append(copier(obj))
                except Exception:  # pylint: disable=broad-except
                    pass
        for duplicate in duplicates:
            for name in _module_methods(duplicate):
                method = getattr(type(duplicate), name)
                sweep.call("copy %s.%s" % (type(duplicate).__name__, name), method, duplicate,
                           _default_args(duplicate, name))
            for name, fn in (("hash", hash), ("repr", repr), ("==", lambda a: a == a)):
                sweep.call("copy %s %s" % (type(duplicate).__name__, name), fn, duplicate)
        sweep.check(self)


def deep_xml(depth):
    """The XML text of `depth` groups nested in each other around a null attribute."""
    group = '<attr%s type="group" inherit="true" children="1">'
    return (group % ' version="1"' + (group % ' name="g"') * (depth - 1) +
            '<attr name="g" type="null"/>' + "</attr>" * depth)


def deep_binary(depth):
    """The binary form of `depth` nested groups around a null attribute."""
    level = "\x05\x01" + struct.pack("<QQ", 1, 1) + "g"
    return "OVAB" + struct.pack("<I", 1) + level * depth + "\x00\x00"


class DeepInputSweep(unittest.TestCase):
    """Nesting is where recursive code runs out of stack: parsing takes 10,000 levels and
    refuses more; building, hashing, writing and destroying handle deeper values."""

    def test_parsers_at_and_past_the_depth_limit(self):
        sweep = Sweep()
        limit = 10000
        for depth in (limit, limit + 1, 200000):
            text, blob = deep_xml(depth), deep_binary(depth)
            sweep.call("parseXML depth %d" % depth, P.Attribute.parseXML, args=[text])
            sweep.call("parseBinary depth %d" % depth, P.Attribute.parseBinary,
                       args=[bytearray(blob)])
        sweep.check(self)
        self.assertIsInstance(P.Attribute.parseXML(deep_xml(limit)), P.GroupAttribute)
        self.assertIsInstance(P.Attribute.parseBinary(deep_binary(limit)), P.GroupAttribute)
        self.assertRaises(ValueError, P.Attribute.parseXML, deep_xml(limit + 1))
        self.assertRaises(TypeError, P.Attribute.parseBinary, deep_binary(limit + 1))

    def test_deep_values_made_through_the_api(self):
        sweep = Sweep()
        builder = P.GroupBuilder()
        builder.set(".".join(["a"] * 20000), P.IntAttribute([1, 2]))
        from_path = builder.build()
        nested = H.deep_group(12000)
        for value in (from_path, nested):
            for name in ("getHash", "getHash64", "getXML", "getBinary", "childList",
                         "getNumberOfChildren"):
                sweep.call("deep %s" % name, getattr(type(value), name), value)
            sweep.call("deep writePython", type(value).writePython, value,
                       [StringIO.StringIO()])
            sweep.call("deep ==", operator.eq, value, [nested])
            sweep.call("deep reparse XML", lambda v: P.Attribute.parseXML(v.getXML()), value)
            sweep.call("deep reparse binary",
                       lambda v: P.Attribute.parseBinary(v.getBinary()), value)
            sweep.call("deep RemoveTimeSamplesIfAllSame", P.Util.RemoveTimeSamplesIfAllSame,
                       args=[value])
            sweep.call("deep update", lambda v: P.GroupBuilder().deepUpdate(v).build(), value)
        del from_path, nested, value  # destroying them must not recurse either
        sweep.check(self)


class AttributeMethodSweep(unittest.TestCase):
    def test_static_parsers(self):
        sweep = Sweep()
        for owner in (P.Attribute, P.IntAttribute, H.SUBCLASSES[P.GroupAttribute],
                      P.NullAttribute()):
            for name in ("parseXML", "parseBinary"):
                fn = getattr(owner, name)
                sweep.call(name + "()", fn)
                for label, factory in _values():
                    sweep.call("%s <- %s" % (name, label), fn, args=[factory()])
                for label, factory in _few_values():
                    sweep.call("%s two args <- %s" % (name, label), fn, args=["", factory()])
        sweep.check(self)

    def test_data_attribute_methods(self):
        sweep = Sweep()
        receivers = [a for a in H.representative_attributes() + H.representative_nulls()
                     if isinstance(a, P.DataAttribute)]
        receivers += [H.failed_init(P.StringAttribute, 5), H.SlotsInt.__new__(H.SlotsInt)]
        _sweep_methods(sweep, receivers)
        sweep.check(self)

    def test_typed_get_value_keywords(self):
        sweep = Sweep()
        receivers = [a for a in H.representative_attributes() + H.representative_nulls()
                     if isinstance(a, P.DataAttribute)]
        for receiver in receivers:
            kind = type(receiver)
            if not hasattr(receiver, "getValue"):
                continue
            for label, factory in _values():
                for keyword in ("defaultValue", "throwOnError", "bogus"):
                    sweep.call("%s.getValue(%s=v) <- %s" % (kind.__name__, keyword, label),
                               kind.getValue, receiver, kwargs={keyword: factory()})
        sweep.check(self)

    def test_group_and_null_methods(self):
        sweep = Sweep()
        receivers = [a for a in H.representative_attributes() + H.representative_nulls()
                     if not isinstance(a, P.DataAttribute)]
        receivers += [H.failed_init(P.GroupAttribute, None), P.GroupAttribute(),
                      H.SUBCLASSES[P.GroupAttribute]([("a", P.NullAttribute())])]
        _sweep_methods(sweep, receivers)
        sweep.check(self)

    def test_write_python_reentrant_and_broken_files(self):
        sweep = Sweep()
        receivers = H.valid_attributes() + H.null_attributes()
        for receiver in receivers:
            files = [H.WriteReentrant(receiver), H.WriteThenRaise(0), H.WriteThenRaise(3),
                     H.WriteRaisesBase()]
            for handle in files:
                sweep.call("%s.writePython(%s)" % (type(receiver).__name__,
                                                   type(handle).__name__),
                           type(receiver).writePython, receiver, [handle])
        sweep.check(self)


class AttributeSlotSweep(unittest.TestCase):
    def _receivers(self):
        made = H.representative_attributes()[::2] + H.representative_nulls()[::3]
        made += [H.RaisingEqInt(2)]
        return made

    def test_hash_repr_and_protocols(self):
        sweep = Sweep()
        unary = [("hash", hash), ("repr", repr), ("str", str), ("bool", bool), ("len", len),
                 ("iter", iter), ("dir", dir), ("int", int), ("float", float),
                 ("getHash", lambda a: a.getHash()), ("getHash64", lambda a: a.getHash64()),
                 ("getXML", lambda a: a.getXML()), ("getBinary", lambda a: a.getBinary()),
                 ("set of one", lambda a: set([a])), ("dict key", lambda a: {a: 1}[a])]
        for receiver in self._receivers():
            for name, fn in unary:
                sweep.call("%s(%s)" % (name, type(receiver).__name__), fn, receiver)
        sweep.check(self)

    def test_comparisons(self):
        sweep = Sweep()
        operators = [("==", operator.eq), ("!=", operator.ne), ("<", operator.lt),
                     ("<=", operator.le), (">", operator.gt), (">=", operator.ge),
                     ("cmp", cmp)]
        for receiver in self._receivers():
            kind = type(receiver).__name__
            for label, factory in _values():
                for name, fn in operators:
                    sweep.call("%s %s v <- %s" % (kind, name, label), fn, receiver,
                               [factory()])
                    other = factory()
                    sweep.call("v %s %s <- %s" % (name, kind, label),
                               lambda b, a, fn=fn: fn(a, b), receiver, [other])
                sweep.call("%s in [v] <- %s" % (kind, label), lambda a, b: a in [b],
                           receiver, [factory()])
                sweep.call("{%s, v} <- %s" % (kind, label), lambda a, b: len(set([a, b])),
                           receiver, [factory()])
                if H.testext is not None:
                    sweep.call("tp_compare(%s, v) <- %s" % (kind, label),
                               H.testext.compare_slot, receiver, [factory()])
        sweep.check(self)


class ConstVectorSweep(unittest.TestCase):
    def test_methods(self):
        sweep = Sweep()
        _sweep_methods(sweep, H.representative_vectors())
        sweep.check(self)

    def test_slots(self):
        sweep = Sweep()
        unary = [("len", len), ("repr", repr), ("str", str), ("list", list), ("hash", hash),
                 ("bool", bool), ("reversed", lambda v: list(reversed(v))), ("sorted", sorted),
                 ("v[-1]", lambda v: v[-1]), ("v[::-1]", lambda v: v[::-1]),
                 ("v[:]", lambda v: v[:]), ("v[1:][1:]", lambda v: v[1:][1:]),
                 ("toOvAttr", lambda v: v.toOvAttr()), ("init", lambda v: v.__init__()),
                 ("copy", copy.copy), ("max", max)]
        binary = [("v[x]", lambda v, x: v[x]), ("v[x:]", lambda v, x: v[x:]),
                  ("v[:x]", lambda v, x: v[:x]), ("v[x:x]", lambda v, x: v[x:x]),
                  ("v[::x]", lambda v, x: v[::x]), ("x in v", lambda v, x: x in v),
                  ("==", operator.eq), ("!=", operator.ne), ("<", operator.lt),
                  ("<=", operator.le), (">", operator.gt), (">=", operator.ge),
                  ("x == v", lambda v, x: x == v), ("x < v", lambda v, x: x < v),
                  ("cmp", cmp), ("v + x", operator.add), ("v * x", operator.mul),
                  ("init(x)", lambda v, x: v.__init__(x)), ("v[x] = 1", operator.setitem)]
        for vector in H.representative_vectors():
            for name, fn in unary:
                sweep.call("ConstVector %s" % name, fn, vector)
            for label, factory in _values():
                for name, fn in binary:
                    args = [factory(), 1] if name == "v[x] = 1" else [factory()]
                    sweep.call("ConstVector %s <- %s" % (name, label), fn, vector, args)
        sweep.check(self)


class GroupBuilderSweep(unittest.TestCase):
    def test_methods(self):
        sweep = Sweep()
        _sweep_methods(sweep, H.builders())
        sweep.check(self)

    def test_build_after_hostile_sets(self):
        sweep = Sweep()
        for builder in H.builders():
            for label, factory in _values():
                sweep.call("set then build <- %s" % label,
                           lambda b, v: b.set("n.%s" % len(label), v).build(1), builder,
                           [factory()])
            sweep.call("build flush", lambda b: b.build(0), builder)
            sweep.call("sort", lambda b: b.sort(), builder)
        sweep.check(self)


def tearDownModule():
    for name, count in COUNTS:
        sys.stderr.write("  %-55s %7d calls\n" % (name, count))
    sys.stderr.write("hostile sweep: %d calls\n" % CALLS[0])


if __name__ == "__main__":
    unittest.main()
