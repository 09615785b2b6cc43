"""Data attributes from Python: construction forms, reads, shapes, ConstVector against a list."""

import array
import ctypes as C
import gc
import struct
import subprocess
import sys
import unittest

import PyOvAttribute as P
import support as S
from support import INF, NAN

INT, FLOAT, DOUBLE, STRING = P.IntAttribute, P.FloatAttribute, P.DoubleAttribute, P.StringAttribute


def f32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def shape(attribute):
    """What an attribute holds, comparable with NaN in it: its sorted samples' repr, tuple size."""
    return repr(sorted((t, list(v)) for t, v in attribute.getSamples().items())), \
        attribute.getTupleSize()


def holds(samples, tuple_size=1):
    return repr(sorted(samples.items())), tuple_size


NO_FORM = {INT: "Requires an int, dict or sequence", FLOAT: "Requires an float, dict or sequence",
           DOUBLE: "Requires an float, dict or sequence", STRING: "Requires a string, dict or sequence"}

# (kind, positional arguments, keyword arguments, what it holds or (exception, message))
CONSTRUCTION = [
    (INT, (5,), {}, holds({0.0: [5]})), (INT, (5, 3), {}, holds({0.0: [5]})),
    (INT, (True,), {}, holds({0.0: [1]})),
    (INT, (2.9,), {}, S.py(holds({0.0: [2]}), (TypeError, "cannot be interpreted as an integer"))),
    (INT, ([-2.9, 2 ** 31 - 1, -2 ** 31],), {}, S.py(holds({0.0: [-2, 2 ** 31 - 1, -2 ** 31]}),
                                                      (TypeError, "'float' object"))),
    (INT, ([1, 2, 3, 4, 5], 2), {}, holds({0.0: [1, 2, 3, 4, 5]}, 2)),
    (INT, (), {"attrdata": (1, 2), "tupleSize": -3}, holds({0.0: [1, 2]}, -3)),
    (INT, (range(4), 0), {}, holds({0.0: [0, 1, 2, 3]}, 0)),
    (INT, (S.Lying(3, 3, 7),), {}, holds({0.0: [7, 7, 7]})),
    (INT, (2 ** 31,), {}, (OverflowError, "value 2147483648 is outside the 32-bit integer range")),
    (INT, ([1, -2 ** 31 - 1],), {}, (OverflowError, "outside the 32-bit integer range")),
    (INT, ([1, 2 ** 70],), {}, (OverflowError, "")),
    (INT, (NAN,), {}, (S.py(ValueError, TypeError), "")),
    (INT, ("12",), {}, (TypeError, NO_FORM[INT])), (INT, ([1, "2"],), {}, (TypeError, NO_FORM[INT])),
    (INT, ([1, S.Raising()],), {}, (ValueError, "hostile")), (INT, (S.Raising(),), {}, (ValueError, "hostile")),
    (INT, (S.Huge(),), {}, (OverflowError, "")), (INT, (1j,), {}, (TypeError, "")),
    (FLOAT, (0.1,), {}, holds({0.0: [f32(0.1)]})),
    (FLOAT, ([1e39, -1e39, 3.4028235e38, 1e-46, 7],), {},
     holds({0.0: [INF, -INF, f32(3.4028235e38), 0.0, 7.0]})),
    (FLOAT, ({0.1: [1.5], -1: [2]},), {}, holds({f32(0.1): [1.5], -1.0: [2.0]})),
    (FLOAT, (S.WrongResult(),), {}, (TypeError, "")), (FLOAT, ("1.5",), {}, (TypeError, NO_FORM[FLOAT])),
    (DOUBLE, (0.1,), {}, holds({0.0: [0.1]})), (DOUBLE, ([NAN, -0.0, 1e300],), {}, holds({0.0: [NAN, -0.0, 1e300]})),
    (DOUBLE, ([],), {}, holds({0.0: []})), (DOUBLE, (S.text("x"),), {}, (TypeError, NO_FORM[DOUBLE])),
    (STRING, ("abc",), {}, holds({0.0: ["abc"]})), (STRING, ("a\x00b",), {}, holds({0.0: ["a"]})),
    (STRING, (["a", "", "\xff"], 3), {}, holds({0.0: ["a", "", "\xff"]}, 3)),
    (STRING, ({0.0: ("a", "b"), 0.5: ["c", "d"]},), {}, holds({0.0: ["a", "b"], 0.5: ["c", "d"]})),
    (STRING, (S.text("abc"),), {}, S.py((TypeError, NO_FORM[STRING]), holds({0.0: ["abc"]}))),
    (STRING, ([1],), {}, (TypeError, NO_FORM[STRING])),
    # The dictionary form: keys round to 32-bit times, keys of one time join in iteration order.
    (INT, ({0: [1], 0.5: [2]},), {}, holds({0.0: [1], 0.5: [2]})),
    (INT, ({1: [1, 2], 1.00000001: [3, 4], 0: [5, 6, 7, 8]},), {},
     holds({0.0: [5, 6, 7, 8], 1.0: [1, 2, 3, 4] if list({1: 0, 1.00000001: 0})[0] == 1
            else [3, 4, 1, 2]})),
    (INT, ({0: [], 1: []},), {}, holds({0.0: [], 1.0: []})),
    (INT, ({},), {}, (TypeError, NO_FORM[INT])), (INT, ({0: [1], 1: [1, 2]},), {}, (TypeError, NO_FORM[INT])),
    (INT, ({"a": [1]},), {}, (TypeError, NO_FORM[INT])), (INT, ({0: 5},), {}, (TypeError, NO_FORM[INT])),
    (INT, ({NAN: [1]},), {}, (ValueError, "sample time cannot be NaN")),
    (INT, ({S.Raising(): [1]},), {}, (ValueError, "hostile")), (INT, ({0: [S.Raising()]},), {}, (ValueError, "hostile")),
    (DOUBLE, (S.subclass(dict)({0.0: [1.5]}),), {}, holds({0.0: [1.5]})),
    # Input changed by its own items while it is read.
    (INT, (S.VALUES[[l for l, _ in S.VALUES].index("emptying list")][1](),), {},
     (RuntimeError, "sequence changed size during conversion")),
    (FLOAT, (S.VALUES[[l for l, _ in S.VALUES].index("dict emptied by a key")][1](),), {},
     (RuntimeError, "dictionary changed size during iteration")),
    (INT, (1, 2, 3), {}, (TypeError, "")), (INT, ([1],), {"bogus": 1}, (TypeError, "")),
]
if S.PY3:  # bytes as text, never as numbers; any buffer of numbers
    A, MV, BAD_INT = array.array, memoryview, "outside the 32-bit integer range"
    CONSTRUCTION += [
        (STRING, ([b"a\xff", "\udcff", "\u20ac"],), {}, holds({0.0: ["a\udcff", "\udcff", "\u20ac"]})),
        (INT, (b"12",), {}, (TypeError, NO_FORM[INT])), (INT, (bytearray(b"\x01\xff"), 2), {}, holds({0.0: [1, 255]}, 2)),
        (INT, (A("b", [-128, 127]),), {}, holds({0.0: [-128, 127]})), (INT, (A("i", [1, -2]),), {}, holds({0.0: [1, -2]})),
        (INT, (A("Q", [2 ** 31 - 1]),), {}, holds({0.0: [2 ** 31 - 1]})), (INT, (A("I", [2 ** 31]),), {}, (OverflowError, "value 2147483648 is " + BAD_INT)),
        (INT, (A("d", [1.0]),), {}, (TypeError, "IntAttribute takes integers: a buffer of format 'd' holds floats")),
        (FLOAT, (A("d", [0.1, -1e39]),), {}, holds({0.0: [f32(0.1), -INF]})), (DOUBLE, (A("H", [65535]),), {}, holds({0.0: [65535.0]})),
        (FLOAT, ({0.5: A("f", [1.5]), 0: [2]},), {}, holds({0.0: [2.0], 0.5: [1.5]})),
        (INT, ({0: A("l", [2 ** 33])},), {}, (OverflowError, "value 8589934592 is " + BAD_INT)),
        (DOUBLE, (MV(b"\x01\x02\x03\x04").cast("B", (2, 2)),), {}, (ValueError, "one-dimensional buffer, not one of 2")),
        (INT, (MV(A("i", range(6)))[::2],), {}, (ValueError, "IntAttribute takes a C-contiguous buffer")),
        (FLOAT, (MV(b"ab").cast("c"),), {}, (TypeError, "not one of format 'c'")),
        (INT, ({0: MV(b"ab").cast("c")},), {}, (TypeError, "not one of format 'c'")),
        (STRING, (A("b", [1]),), {}, (TypeError, NO_FORM[STRING])),
    ] + [(DOUBLE, ((t * 1)(1),), {}, holds({0.0: [1.0]})) for t in (  # '<'-prefixed formats
        C.c_byte, C.c_ubyte, C.c_short, C.c_ushort, C.c_int, C.c_uint, C.c_longlong,
        C.c_ulonglong, C.c_float, C.c_double, C.c_bool)]
if S.numpy is not None:
    N = S.numpy
    CONSTRUCTION += [(kind, (N.array([1, -1 if dtype[0] != "u" else 2, 3], dtype=dtype), 3), {},
                      holds({0.0: [kind([x]).getValue() for x in (1, -1 if dtype[0] != "u" else 2, 3)]}, 3))
                     for kind in (INT, FLOAT, DOUBLE) for dtype in (
                         "int8", "int16", "int32", "int64", "uint8", "uint16", "uint32")] + [
        (kind, (N.array([0.5, -2], dtype=dtype),), {}, holds({0.0: [0.5, -2.0]}))
        for kind in (FLOAT, DOUBLE) for dtype in ("float32", "float64")] + [
        (FLOAT, (N.float32(2.5),), {}, holds({0.0: [2.5]})), (INT, (N.int64(-7),), {}, holds({0.0: [-7]}))]


class Construction(unittest.TestCase):
    def test_forms(self):
        for kind, args, kwargs, expected in CONSTRUCTION:
            label = "%s%r %r" % (kind.__name__, args, kwargs)
            if isinstance(expected[0], type) and issubclass(expected[0], Exception):
                made = lambda: kind(*args, **kwargs)
                self.assertIn(expected[1], S.message(self, expected[0], made), label)
            else:
                made = kind(*args, **kwargs)
                self.assertEqual(shape(made), expected, label)
                self.assertEqual(S.subclass(kind)(*args, **kwargs), made, label)

    def test_abstract_types_and_second_initialisers(self):
        for kind in (P.Attribute, P.DataAttribute):
            for made in (kind, lambda: kind(1, x=2)):
                self.assertEqual(S.message(self, TypeError, made),
                                 "Cannot construct abstract %s directly." % kind.__name__)
        value = INT([1, 2])
        if S.PY3:  # an attribute is a value: it cannot change under a dictionary
            for again in (lambda: value.__init__({0.0: [7]}), lambda: P.Attribute.__init__(value),
                          lambda: P.NullAttribute.__init__(value)):
                self.assertRaises(TypeError, again)
            self.assertEqual(shape(value), holds({0.0: [1, 2]}))
        else:
            value.__init__({0.0: [7]})  # a second __init__ gives the object a new value
            self.assertEqual(shape(value), holds({0.0: [7]}))
            self.assertRaises(TypeError, value.__init__, "x")  # a failed one leaves it without
            self.assertRaises(TypeError, value.getData)
        self.assertEqual(P.NullAttribute(5, a=1), P.NullAttribute())


@unittest.skipIf(S.UNDER_A_TOOL, "an address-space limit means nothing under a sanitizer")
class OutOfMemory(unittest.TestCase):
    def test_library_allocations_that_fail(self):
        # In a child whose address space leaves 8 MiB: vector elements that cannot be made are
        # skipped by count and index; a construction is a MemoryError, a Util call the library's
        # RuntimeError, and parseBinary (whose library call answers "no attribute") a TypeError.
        script = "\n".join([
            "import resource, PyOvAttribute as P",
            "v = P.StringAttribute(['x' * (64 << 20), 'a']).getData()",
            "floats = [0.5] * (4 << 20)",
            "twice, blob = P.FloatAttribute({0: floats, 1: floats}), P.FloatAttribute(floats).getBinary()",
            "size = int(open('/proc/self/statm').read().split()[0]) * resource.getpagesize()",
            "resource.setrlimit(resource.RLIMIT_AS, (size + (8 << 20), -1))",
            "out = [v.count('a'), v.index('a')]",
            "for make in (lambda: P.FloatAttribute(floats), lambda: P.Attribute.parseBinary(blob),",
            "             lambda: P.Util.RemoveTimeSamplesIfAllSame(twice)):",
            "    try: out.append(make() and 'made')",
            "    except Exception as e: out.append(type(e).__name__)",
            "print(out)"])
        child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE)
        self.assertEqual(child.communicate()[0].decode().strip(),
                         "[1, 1, 'MemoryError', 'TypeError', 'RuntimeError']")


class Reads(unittest.TestCase):
    def test_samples_and_values(self):
        value = DOUBLE({-1.0: [1.0, 2.0], 0.5: [3.0, 4.0], 2.0: [5.0, 6.0]}, 2)
        self.assertEqual(list(value.getData()), [3.0, 4.0])
        self.assertEqual(sorted(value.getSamples()), [-1.0, 0.5, 2.0])
        self.assertEqual([list(value.getNearestSample(t)) for t in (1, 99)],
                         [[3.0, 4.0], [5.0, 6.0]])
        self.assertEqual(value.getValue(), 3.0)
        self.assertRaises(TypeError, value.getNearestSample, "x")

    def test_get_value(self):
        for kind, made, default, converted in ((INT, INT([]), S.py(2.7, 2), 2),
                                               (FLOAT, FLOAT([]), 3, 3.0),
                                               (STRING, STRING([]), "a\x00b", "a")):
            self.assertEqual(made.getValue(default, 0), converted)
            self.assertEqual(made.getValue(defaultValue=default, throwOnError=False), converted)
            self.assertEqual(S.message(self, RuntimeError, made.getValue),
                             "getValue: the attribute has no value")
            for bad in (None, S.py(S.text("x"), [1]), "x" if kind is not STRING else 1):
                self.assertEqual(S.message(self, TypeError, made.getValue, bad),
                                 "Invalid type provided for default value.")
        self.assertEqual([STRING("s").getValue(), INT(9).getValue(1)], ["s", 9])
        self.assertRaises(TypeError, INT(1).getValue, 1, 0, 2)
        self.assertRaises(TypeError, INT(1).getValue, bogus=1)


class Queries(unittest.TestCase):
    def test_shape_and_times(self):
        value = INT({0.25: [1, 2, 3, 4, 5], -1.0: [6, 7, 8, 9, 0]}, 2)
        self.assertEqual([value.getTupleSize(), value.getNumberOfValues(), value.getNumberOfTuples(),
                          value.getNumberOfTimeSamples()], [2, 5, 2, 2])
        self.assertEqual(value.getSampleTimes(), (-1.0, 0.25))
        self.assertEqual([value.getSampleTime(i) for i in (0, 1, 2, -1, 2 ** 62)],
                         [-1.0, 0.25, 0.0, 0.0, 0.0])
        self.assertEqual([value.getBoundingSampleTimes(t) for t in (0, NAN)],
                         [(-1.0, 0.25), (None, None)])  # None: no times bound it


class Vectors(unittest.TestCase):
    """Every ConstVector operation against the same operation on a list of the values."""

    def models(self):
        wide = [2 ** 31 - 1, -2 ** 31, 2 ** 30, 300, -2 ** 30, 5, 1 - 2 ** 30, -300]
        return [(INT([4, -1, 7, 7, 0]).getData(), [4, -1, 7, 7, 0]), (INT(wide).getData(), wide),
                (FLOAT([0.5, -0.0, 1e-45, INF]).getData(), [0.5, -0.0, f32(1e-45), INF]),
                (DOUBLE([0.1, 1e16, 2.5, 1e-05, 0.00012, 300.0]).getData()[1:],
                 [1e16, 2.5, 1e-05, 0.00012, 300.0]),
                (STRING(["a", "it's", "\xff", ""]).getData(), ["a", "it's", "\xff", ""]),
                (INT([]).getData(), [])]

    def test_as_a_list(self):
        for vector, model in self.models():
            n = len(model)
            # The text of a list of the values; 2.7 quotes strings as they are, not escaped.
            text = "[%s]" % ", ".join("'%s'" % x for x in model) if model and \
                isinstance(model[0], str) and not S.PY3 else repr(model)
            self.assertEqual((len(vector), list(vector), repr(vector), str(vector)),
                             (n, model, text, text))
            self.assertEqual(list(reversed(vector)), model[::-1])
            self.assertEqual([repr(x) for x in vector], [repr(x) for x in model])  # none kept
            for i in range(-n - 2, n + 2):
                if -n <= i < n:
                    self.assertEqual(repr(vector[i]), repr(model[i]))
                else:
                    self.assertEqual(S.message(self, IndexError, lambda: vector[i]),
                                     "index out of range")
                for j in range(-n - 2, n + 2):
                    self.assertEqual(list(vector[i:j]), model[i:j], (i, j))
                    self.assertEqual(list(vector[i:][:j]), model[i:][:j], (i, j))
                    for k in S.py((), (-3, -1, 2, 3)):  # 3: any step
                        self.assertEqual(list(vector[i:j:k]), model[i:j:k], (i, j, k))
            for x in model + [99, "zz", None, 1.0]:
                self.assertEqual(vector.count(x), model.count(x))
                self.assertEqual(x in vector, x in model)
                if x in model:
                    self.assertEqual(vector.index(x), model.index(x))
                else:
                    self.assertEqual(S.message(self, ValueError, vector.index, x),
                                     "%r is not in list" % (x,))
            kind = type(vector.toOvAttr())
            for other in (model, tuple(model), model[:-1], model + [0], [9] + model[1:], [],
                          model[::-1]):
                # Against the sequence, and against a vector of the same kind holding it.
                peer = S.attempt(lambda: kind(list(other)).getData())
                for against in [other] + ([peer] if isinstance(peer, P.ConstVector) else []):
                    for op in ("==", "!=", "<", "<=", ">", ">="):
                        expected = S.attempt(eval, "a %s b" % op, {"a": model, "b": list(other)})
                        if not isinstance(expected, TypeError):  # 3 orders no str with an int
                            self.assertEqual(eval("a %s b" % op, {"a": vector, "b": against}),
                                             expected, (model, op, other))
            self.assertRaises(TypeError, hash, vector)
        self.assertEqual(INT([1, 2]).getData(), FLOAT([1, 2]).getData())
        self.assertNotEqual(FLOAT([NAN]).getData(), [1.0])
        self.assertEqual(FLOAT([NAN]).getData(), FLOAT([NAN]).getData())
        self.assertTrue(INT([1]).getData() != object())

    @unittest.skipUnless(S.PY3, "buffers are exported on Python 3")
    def test_buffers_out(self):
        formats = {INT: ("i", 4), FLOAT: ("f", 4), DOUBLE: ("d", 8)}
        for vector, model in self.models():
            kind = type(vector.toOvAttr())
            if kind not in formats:
                self.assertRaises(BufferError, memoryview, vector)
                continue
            view = memoryview(vector)
            self.assertEqual((view.format, view.itemsize, view.readonly, view.ndim, view.shape,
                              view.tolist()), formats[kind] + (True, 1, (len(model),), model))
            self.assertRaises(TypeError, view.__setitem__, 0, 5)
        for kind, (_, size) in formats.items():
            vector = kind(list(range(100))).getData()
            view, tail = memoryview(vector), memoryview(vector[10:])  # zero copy: the same bytes
            self.assertEqual(S.buffer_address(tail) - S.buffer_address(view), 10 * size)
            self.assertEqual(S.buffer_address(vector.toOvAttr().getData()), S.buffer_address(view))
            del vector
            gc.collect()
            garbage = [kind(list(range(100, 200))) for _ in range(50)]  # reuses freed memory
            self.assertEqual((view.tolist(), tail[:2].tolist()), (list(range(100)), [10, 11]))
            if S.numpy is not None:
                seen = S.numpy.asarray(kind([1, 2]).getData()[1:])
                self.assertEqual((seen.tolist(), seen.flags.writeable, len(garbage)),
                                 ([2], False, 50))

    def test_back_to_attributes_and_lifetime(self):
        whole = INT([1, 2, 3])
        self.assertEqual(whole.getData().toOvAttr(), whole)
        self.assertEqual(INT([1, 2, 3, 4], 2).getData().toOvAttr(), INT([1, 2, 3, 4]))
        self.assertEqual(STRING(["a", "b", "c"]).getData()[1:].toOvAttr(), STRING(["b", "c"]))
        self.assertEqual(INT({0.5: [1]}).getData().toOvAttr(), INT([1]))  # one sample at 0
        self.assertIs(type(DOUBLE([1.0]).getData().toOvAttr()), DOUBLE)
        vector = STRING(["kept"] * 3).getData()[1:]
        self.assertEqual(list(vector), ["kept", "kept"])  # the attribute object is gone
        self.assertRaises(TypeError, vector.__init__)


if __name__ == "__main__":
    unittest.main()
