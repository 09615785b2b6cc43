"""Hostile Python values for the reliability suites.

Every entry of VALUES is (label, factory): the factory makes a fresh value on each call, so that
a value that mutates itself or its container while the module reads it (the lying and clearing
sequences below) is always seen in its first state. The set aims at the places where careless C
code goes wrong: integer and float conversions at their limits, text with NUL bytes or
non-ASCII characters, sequences whose protocol methods raise, lie or mutate the sequence being
read, dictionaries with unordered or unconvertible keys, file objects whose write misbehaves,
attribute objects that hold no value, and subclasses of every type that allows them.
"""

import StringIO
import sys

import PyOvAttribute as P

try:
    import _ovattr_testext as testext
except ImportError:  # the suites also run against a build without the test-only module
    testext = None

NAN = float("nan")
INF = float("inf")


class HostileError(Exception):
    """Raised by the hostile protocol methods below."""


class HostileBaseError(BaseException):
    """Not an Exception: code that catches only Exception lets it through."""


def _raise(*_args, **_kwargs):
    raise HostileError("hostile")


# Numbers whose conversions misbehave.
class RaisingNumber(object):
    __int__ = __long__ = __float__ = __index__ = __trunc__ = _raise
    __complex__ = _raise


class RaisingIndexOnly(object):
    __index__ = _raise


class WrongResultNumber(object):
    """Conversions that return the wrong type."""

    def __int__(self):
        return "not an int"

    __long__ = __int__

    def __float__(self):
        return "not a float"

    def __index__(self):
        return 1.5


class HugeNumber(object):
    def __int__(self):
        return 2 ** 80

    __long__ = __index__ = __int__

    def __float__(self):
        return 1e300


class NanNumber(object):
    def __float__(self):
        return NAN

    def __int__(self):
        return 0

    __long__ = __int__


# Comparisons that misbehave.
class RaisingEq(object):
    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = __cmp__ = _raise
    __hash__ = object.__hash__


class BadTruth(object):
    __nonzero__ = __len__ = _raise


class BadTruthEq(object):
    """Comparisons answer an object whose truth test raises."""

    def _cmp(self, _other):
        return BadTruth()

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = _cmp
    __hash__ = object.__hash__


class RaisingHash(object):
    __hash__ = _raise


class RaisingRepr(object):
    __repr__ = __str__ = _raise


# Sequences that raise or lie.
class RaisingLen(object):
    __len__ = _raise

    def __getitem__(self, index):
        if index < 3:
            return index
        raise IndexError(index)


class RaisingGetitem(object):
    def __len__(self):
        return 3

    __getitem__ = _raise


class RaisingIter(object):
    def __len__(self):
        return 3

    def __getitem__(self, index):
        return index

    __iter__ = _raise


class LyingSequence(object):
    """Claims `claimed` items but holds `actual` (IndexError past them)."""

    def __init__(self, claimed, actual, item=1):
        self.claimed = claimed
        self.actual = actual
        self.item = item

    def __len__(self):
        return self.claimed

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self.item] * len(range(*index.indices(self.actual)))
        if index < 0:
            index += self.actual
        if 0 <= index < self.actual:
            return self.item
        raise IndexError(index)


class NegativeLen(LyingSequence):
    def __len__(self):
        return -1


class HugeLen(LyingSequence):
    def __len__(self):
        return sys.maxsize


class WrongTypeLen(LyingSequence):
    def __len__(self):
        return "three"


class NumberAndSequence(LyingSequence):
    """Passes both the number and the sequence checks; its conversions raise."""

    __int__ = __long__ = __float__ = _raise


def _generator(n=3):
    for i in range(n):
        yield i


def _raising_generator():
    yield 1
    raise HostileError("hostile generator")


# Values whose reference counts change by design while the module reads them (they drop
# their own cycles); the sweep does not hold such a change against the module.
UNWATCHED = set()


def _unwatched(value):
    UNWATCHED.add(id(value))
    return value


# Values that mutate the container the module is reading.
class Clearer(object):
    """Empties its container when converted, compared or hashed."""

    def __init__(self, container):
        self.container = container

    def _clear(self, *_args):
        container = self.container
        if isinstance(container, list):
            del container[:]
        elif isinstance(container, dict):
            container.clear()
        return 1

    def __int__(self):
        self._clear()
        return 1

    __long__ = __index__ = __trunc__ = __int__

    def __float__(self):
        self._clear()
        return 1.0

    def __eq__(self, other):
        self._clear()
        return False

    __ne__ = __lt__ = __le__ = __gt__ = __ge__ = __eq__

    def __hash__(self):
        return 7


class Grower(Clearer):
    """Makes its list much longer (and so reallocates its storage) when converted."""

    def _clear(self, *_args):
        self.container.extend(range(10000))
        return 1


def _clearing_list(n=6):
    values = list(range(n))
    values[2] = Clearer(values)
    return _unwatched(values)


def _growing_list():
    values = [1, 2, 3, 4]
    values[1] = Grower(values)
    return _unwatched(values)


def _clearing_float_list():
    values = [1.0, 2.0, 3.0, 4.0, 5.0]
    values[1] = Clearer(values)
    return _unwatched(values)


def _clearing_key_dict():
    d = {}
    d[Clearer(d)] = [1, 2]
    d[0.5] = [3, 4]
    d[1.5] = [5, 6]
    return _unwatched(d)


def _clearing_value_dict():
    d = {}
    inner = [1, 2]
    d[0.0] = inner
    inner.append(Clearer(d))
    d[1.0] = [3, 4, 5]
    return _unwatched(d)


class ClassLiar(object):
    """Claims through __class__ to be an instance of a module type it is not: an isinstance
    test passes, yet the object has none of that type's fields."""

    def __init__(self, claimed):
        self.claimed = claimed

    @property
    def __class__(self):
        return self.claimed


class ClassRaiser(object):
    @property
    def __class__(self):
        raise HostileError("__class__")


def _self_referencing_list():
    values = [1]
    values.append(values)
    return values


def _deep_list(depth=2000):
    value = []
    for _ in range(depth):
        value = [value]
    return value


# Subclasses of the builtin value types, with misbehaving overrides.
class IntSub(int):
    __int__ = __long__ = __float__ = __index__ = _raise


class LongSub(long):
    __int__ = __long__ = __float__ = __index__ = _raise


class FloatSub(float):
    __float__ = __int__ = __long__ = _raise


class StrSub(str):
    __len__ = __getitem__ = __str__ = __repr__ = _raise


class UnicodeSub(unicode):
    __len__ = __getitem__ = _raise


class ListSub(list):
    __len__ = __getitem__ = __iter__ = _raise


class TupleSub(tuple):
    __len__ = __getitem__ = __iter__ = _raise


class DictSub(dict):
    __len__ = __getitem__ = __iter__ = keys = items = iteritems = _raise


class BytearraySub(bytearray):
    __len__ = __getitem__ = _raise


class OldStyle:  # an old-style instance: its type is `instance`
    def __len__(self):
        return 2

    def __getitem__(self, index):
        if index < 2:
            return index
        raise IndexError(index)


class OldStyleNumber:
    def __int__(self):
        return 3

    def __float__(self):
        return 3.5

    def __long__(self):
        return 3L


# File-like objects for writePython.
class WriteRaises(object):
    write = _raise


class WriteRaisesBase(object):
    def write(self, _text):
        raise HostileBaseError("not an Exception")


class WriteReturnsGarbage(object):
    def write(self, text):
        return RaisingRepr(), text, [self] * 3


class WriteNotCallable(object):
    write = 5


class WriteNoArgs(object):
    def write(self):
        return None


class WriteGetattrRaises(object):
    def __getattr__(self, name):
        raise HostileError(name)


class WriteThenRaise(object):
    """Accepts `limit` writes, then raises: a group's text breaks off in the middle."""

    def __init__(self, limit=2):
        self.limit = limit
        self.parts = []

    def write(self, text):
        if len(self.parts) >= self.limit:
            raise HostileError("disk full")
        self.parts.append(text)


class WriteReentrant(object):
    """Calls writePython of the attribute being written from inside write."""

    def __init__(self, attribute):
        self.attribute = attribute
        self.depth = 0

    def write(self, _text):
        self.depth += 1
        if self.depth < 50:
            self.attribute.writePython(self)


class Reinitialiser(object):
    """Each conversion and protocol method first runs `again()` (re-initialising or emptying the
    object a method is working on; what it raises is swallowed), then answers as the plain
    value `answer` would: the shape of Python code that pulls the object out from under the C
    code converting its argument."""

    def __init__(self, again, answer):
        self.again = again
        self.answer = answer

    def _run(self):
        try:
            self.again()
        except Exception:  # pylint: disable=broad-except
            pass

    def __int__(self):
        self._run()
        return int(self.answer)

    __long__ = __index__ = __trunc__ = __int__

    def __float__(self):
        self._run()
        return float(self.answer)

    def __len__(self):
        self._run()
        return 1

    def __getitem__(self, index):
        self._run()
        if index == 0:
            return self.answer
        raise IndexError(index)

    def __eq__(self, _other):
        self._run()
        return False

    __hash__ = object.__hash__

    def __str__(self):
        self._run()
        return str(self.answer)


def reentrant_values(target):
    """Values whose conversions re-initialise `target` with a value of its own kind, or empty
    it: for putting in the argument positions of `target`'s own methods."""
    kind = type(target)
    if isinstance(target, P.GroupBuilder):
        fresh, empty = (lambda: kind.__init__(target)), (lambda: kind.__init__(target, 1))
    elif isinstance(target, P.Attribute):
        args = {P.StringAttribute: (["x"],), P.GroupAttribute: ([],)}
        for base, data in args.items():
            if isinstance(target, base):
                fresh = lambda data=data: kind.__init__(target, *data)
                break
        else:
            fresh = lambda: kind.__init__(target, [1, 2])
        empty = lambda: P.Attribute.__init__(target)
    else:
        return []
    return [("re-inits receiver (%s)" % answer, lambda answer=answer, again=again:
             Reinitialiser(again, answer))
            for answer in (1, 0.5) for again in (fresh, empty)]


def _attribute_types():
    return (P.Attribute, P.DataAttribute, P.IntAttribute, P.FloatAttribute, P.DoubleAttribute,
            P.StringAttribute, P.GroupAttribute, P.NullAttribute)


def _subclass(base):
    return type("Hostile" + base.__name__, (base,), {})


SUBCLASSES = dict((t, _subclass(t)) for t in _attribute_types() + (P.GroupBuilder,))


class RaisingEqInt(P.IntAttribute):
    """An attribute subclass whose comparisons and hash raise."""

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = __cmp__ = __hash__ = _raise


class SlotsInt(P.IntAttribute):
    __slots__ = ()


def null_attributes():
    """An object of each attribute type (and of a subclass of each) that holds no value."""
    made = [t.__new__(t) for t in _attribute_types()]
    made += [s.__new__(s) for s in (SUBCLASSES[t] for t in _attribute_types())]
    made.append(P.Attribute.__new__(P.IntAttribute))
    return made


def first_value(kind):
    if issubclass(kind, P.StringAttribute):
        return kind("s")
    if issubclass(kind, P.GroupAttribute):
        return kind([("a", P.NullAttribute())])
    return kind(1)


def failed_init(kind, data):
    """An object left without a value by an initialiser that failed after a success."""
    obj = first_value(kind)
    try:
        obj.__init__(data)
    except Exception:  # pylint: disable=broad-except
        pass
    return obj


def null_builder():
    return P.GroupBuilder.__new__(P.GroupBuilder)


def deep_group(depth):
    group = P.GroupAttribute([("leaf", P.IntAttribute([1, 2, 3]))])
    for _ in range(depth):
        group = P.GroupAttribute([("g", group)])
    return group


def valid_attributes():
    """Attributes of every kind and shape: scalars, tuples, several samples, empty, groups."""
    int_multi = P.IntAttribute({0.0: [1, 2, 3, 4], 0.5: [5, 6, 7, 8], -1.0: [0, 0, 0, 0]}, 2)
    float_multi = P.FloatAttribute({0.0: [1.5, NAN], 1.0: [INF, -0.0]}, 2)
    double_multi = P.DoubleAttribute({0.25: [0.1, 1e308], 0.75: [-1e-308, NAN]})
    string_multi = P.StringAttribute({0.0: ["a", "it's"], 2.0: ["\xff\xfe", ""]})
    child_group = P.GroupAttribute([("x", P.IntAttribute(1)), ("y", P.StringAttribute("s"))])
    made = [
        P.NullAttribute(),
        P.IntAttribute(5), P.IntAttribute([]), P.IntAttribute([1, 2, 3], 2),
        P.IntAttribute([1, 2, 3, 4], 0), P.IntAttribute([1, 2, 3, 4], -3), int_multi,
        P.IntAttribute([2 ** 31 - 1, -2 ** 31]),
        P.FloatAttribute(0.1), P.FloatAttribute([NAN, INF, -INF, -0.0]), float_multi,
        P.DoubleAttribute(0.1), P.DoubleAttribute([]), double_multi,
        P.StringAttribute("abc"), P.StringAttribute(["a\x00b", "\xe9", ""]), string_multi,
        P.StringAttribute({0.0: []}),
        P.GroupAttribute(), child_group,
        P.GroupAttribute([("a.b", P.NullAttribute()), ("", P.IntAttribute(1)),
                          ("g", child_group)], False),
        deep_group(50),
        P.GroupBuilder().set("a.b.c", 1).set("a.d", 2.5).set("s", "x").build(),
    ]
    made += [SUBCLASSES[P.IntAttribute]([1, 2]), SUBCLASSES[P.GroupAttribute](),
             SUBCLASSES[P.StringAttribute]("sub"), SUBCLASSES[P.NullAttribute](),
             SlotsInt(3)]
    return made


def representative_attributes():
    """A smaller set for the sweeps that multiply receivers by values: one of each kind and
    shape that takes a different path through the module."""
    return [
        P.NullAttribute(),
        P.IntAttribute({0.0: [1, 2, 3, 4], 0.5: [5, 6, 7, 8]}, 2),
        P.IntAttribute([1, 2, 3], 0),
        P.FloatAttribute([NAN, 1.5, -0.0]),
        P.DoubleAttribute([]),
        P.StringAttribute({0.0: ["a\x00b", "it's"], 1.0: ["\xff", ""]}),
        P.GroupAttribute([("x", P.IntAttribute(1)), ("a.b", P.StringAttribute("s"))], False),
        deep_group(30),
        SUBCLASSES[P.DoubleAttribute](2.5),
        SlotsInt(3),
    ]


def representative_nulls():
    kinds = (P.Attribute, P.DataAttribute, P.IntAttribute, P.StringAttribute,
             P.GroupAttribute, P.NullAttribute)
    made = [k.__new__(k) for k in kinds]
    made.append(SUBCLASSES[P.FloatAttribute].__new__(SUBCLASSES[P.FloatAttribute]))
    made.append(failed_init(P.DoubleAttribute, "x"))
    return made


def representative_vectors():
    int_attr = P.IntAttribute({0.0: [1, 2, 3, 4, 5, 6], 1.0: [0] * 6}, 3)
    made = [int_attr.getData(), int_attr.getData()[2:5],
            P.FloatAttribute([0.5, NAN, -0.0]).getData(),
            P.DoubleAttribute([1e16, -INF]).getData(),
            P.StringAttribute(["a", "it's", "\xff\x00z"]).getData(),
            P.IntAttribute([]).getData(), int_attr.getData()[5:2]]
    if testext is not None:
        made.append(testext.const_vector(P.GroupAttribute(), 0.0))
    return made


def const_vectors():
    """Sample views of every kind: whole, sliced, empty, and (with the test module) the vector
    without an attribute."""
    made = []
    for attr in valid_attributes():
        if isinstance(attr, P.DataAttribute):
            vector = attr.getData()
            made += [vector, vector[1:], vector[5:2]]
    if testext is not None:
        made.append(testext.const_vector(P.GroupAttribute(), 0.0))
        made.append(testext.const_vector(P.NullAttribute(), 0.0))
    return made


def builders():
    made = [P.GroupBuilder(), P.GroupBuilder(1), P.GroupBuilder(-7), null_builder(),
            SUBCLASSES[P.GroupBuilder](), SUBCLASSES[P.GroupBuilder].__new__(
                SUBCLASSES[P.GroupBuilder])]
    filled = P.GroupBuilder()
    filled.set("a", 1).set("b.c", "x").set("d", P.GroupAttribute())
    made.append(filled)
    return made


def _scalar_values():
    return [
        ("None", lambda: None), ("True", lambda: True), ("False", lambda: False),
        ("0", lambda: 0), ("-1", lambda: -1), ("2**31-1", lambda: 2 ** 31 - 1),
        ("2**31", lambda: 2 ** 31), ("-2**31-1", lambda: -2 ** 31 - 1),
        ("2**32", lambda: 2 ** 32), ("2**63-1", lambda: 2 ** 63 - 1), ("2**63", lambda: 2 ** 63),
        ("-2**63", lambda: -2 ** 63), ("-2**63-1", lambda: -2 ** 63 - 1),
        ("-2**64", lambda: -2 ** 64), ("2**64", lambda: 2 ** 64), ("10**400", lambda: 10 ** 400),
        ("-10**400", lambda: -10 ** 400), ("1L", lambda: 1L), ("sys.maxint", lambda: sys.maxint),
        ("0.0", lambda: 0.0), ("-0.0", lambda: -0.0), ("2.9", lambda: 2.9),
        ("-2.9", lambda: -2.9), ("1e-45", lambda: 1e-45), ("3.5e38", lambda: 3.5e38),
        ("1e39", lambda: 1e39), ("-1e39", lambda: -1e39), ("1e308", lambda: 1e308),
        ("2**63 as float", lambda: float(2 ** 63)), ("nan", lambda: NAN),
        ("-nan", lambda: -NAN), ("inf", lambda: INF), ("-inf", lambda: -INF),
        ("1j", lambda: 1j), ("complex nan", lambda: complex(NAN, NAN)),
    ]


def _text_values():
    return [
        ("''", lambda: ""), ("'a'", lambda: "a"), ("NUL inside", lambda: "a\x00b"),
        ("NUL only", lambda: "\x00"), ("high bytes", lambda: "\xff\xfe\x80"),
        ("dots", lambda: "a..b."), ("percent", lambda: "%2e%2F%25%zz%"), ("slash", lambda: "/a/"),
        ("long str", lambda: "x" * 100000), ("xml-ish", lambda: "<a b='&amp;'>]]></a>"),
        ("u''", lambda: u""), ("u ascii", lambda: u"abc"), ("u non-ascii", lambda: u"\xe9t\xe9"),
        ("u euro", lambda: u"\u20ac"), ("u lone surrogate", lambda: u"\ud800"),
        ("u NUL", lambda: u"a\x00b"), ("u astral", lambda: u"\U0001f600"),
        ("bytearray()", bytearray), ("bytearray abc", lambda: bytearray("abc")),
        ("bytearray NULs", lambda: bytearray(64)),
        ("bytearray 0xff", lambda: bytearray("\xff" * 300)),
        ("buffer", lambda: buffer("abc")), ("memoryview", lambda: memoryview("abc")),
    ]


def _container_values():
    return [
        ("[]", list), ("()", tuple), ("[[]]", lambda: [[]]), ("[()]", lambda: [()]),
        ("nested ints", lambda: [[1, 2], [3, 4]]), ("[None]", lambda: [None]),
        ("mixed", lambda: [1, "a", 2.5, None]), ("[nan, inf]", lambda: [NAN, INF, -INF]),
        ("[2**64]", lambda: [2 ** 64]), ("[10**400]", lambda: [10 ** 400]),
        ("[2**31]", lambda: [2 ** 31]), ("[1e39]", lambda: [1e39]),
        ("['a', u'b']", lambda: ["a", u"b"]), ("[u'a']", lambda: [u"\xe9"]),
        ("str NUL list", lambda: ["a\x00b", "\x00", ""]), ("[1j]", lambda: [1j]),
        ("many ints", lambda: list(range(5000))), ("many strs", lambda: ["s%d" % i for i in range(2000)]),
        ("tuple floats", lambda: (0.5, 1.5, NAN)),
        ("self-referencing", _self_referencing_list), ("deep list", _deep_list),
        ("xrange", lambda: xrange(4)), ("xrange()", lambda: xrange(0)),
        ("iterator", lambda: iter([1, 2])), ("generator", _generator),
        ("raising generator", _raising_generator), ("set", lambda: set([1, 2])),
        ("frozenset", lambda: frozenset(["a"])),
        ("name/attr pairs", lambda: [("a", P.IntAttribute(1)), ("b", P.NullAttribute())]),
        ("pair short", lambda: [("a",)]), ("pair long", lambda: [("a", P.NullAttribute(), 1)]),
        ("pair as list", lambda: [["a", P.NullAttribute()]]),
        ("pair unicode name", lambda: [(u"a", P.NullAttribute())]),
        ("pair NUL name", lambda: [("a\x00b", P.NullAttribute())]),
        ("pair number value", lambda: [("a", 1)]),
        ("pair null attr", lambda: [("a", P.IntAttribute.__new__(P.IntAttribute))]),
        ("pair builder", lambda: [("a", P.GroupBuilder())]),
        ("pair vector", lambda: [("a", P.IntAttribute([1]).getData())]),
        ("{}", dict), ("{nan: [1]}", lambda: {NAN: [1]}),
        ("two nan keys", lambda: {NAN: [1], float("nan"): [2], 0.0: [3]}),
        ("{inf: [1]}", lambda: {INF: [1], -INF: [2]}), ("{2**64: [1]}", lambda: {2 ** 64: [1]}),
        ("{10**400: [1]}", lambda: {10 ** 400: [1]}), ("{1e300: [1]}", lambda: {1e300: [1]}),
        ("{-0.0, 0.0}", lambda: {-0.0: [1], 1e-50: [2]}),
        ("unequal samples", lambda: {0: [1], 1: [2, 3]}), ("{0: 'abc'}", lambda: {0: "abc"}),
        ("{0: ['abc']}", lambda: {0: ["abc"]}), ("{'a': [1]}", lambda: {"a": [1]}),
        ("{None: [1]}", lambda: {None: [1]}), ("{0: None}", lambda: {0: None}),
        ("{1j: [1]}", lambda: {1j: [1]}), ("{(1, 2): [1]}", lambda: {(1, 2): [1]}),
        ("{0: []}", lambda: {0: [], 1: []}), ("{0: generator}", lambda: {0: _generator()}),
        ("{raising key: [1]}", lambda: {RaisingNumber(): [1]}),
        ("{nan number key}", lambda: {NanNumber(): [1.0]}),
        ("{huge number key}", lambda: {HugeNumber(): [1]}),
        ("{0: [raising]}", lambda: {0: [RaisingNumber()]}),
        ("{'a': attr}", lambda: {"a": P.IntAttribute(1), "b": P.GroupAttribute()}),
        ("{u'a': attr}", lambda: {u"a": P.IntAttribute(1)}), ("{'a': 1}", lambda: {"a": 1}),
        ("{1: attr}", lambda: {1: P.NullAttribute()}),
        ("{'a': null attr}", lambda: {"a": P.GroupAttribute.__new__(P.GroupAttribute)}),
    ]


def _protocol_values():
    return [
        ("raising number", RaisingNumber), ("raising __index__ only", RaisingIndexOnly),
        ("wrong-result number", WrongResultNumber), ("huge number", HugeNumber),
        ("nan number", NanNumber), ("raising eq", RaisingEq), ("bad truth eq", BadTruthEq),
        ("raising hash", RaisingHash), ("raising repr", RaisingRepr),
        ("raising len", RaisingLen), ("raising getitem", RaisingGetitem),
        ("raising iter", RaisingIter), ("claims 1000 holds 2", lambda: LyingSequence(1000, 2)),
        ("claims 1 holds 50", lambda: LyingSequence(1, 50)),
        ("claims 0 holds 5", lambda: LyingSequence(0, 5)),
        ("lying floats", lambda: LyingSequence(4, 2, 0.5)),
        ("lying strs", lambda: LyingSequence(4, 2, "s")), ("negative len", lambda: NegativeLen(3, 3)),
        ("huge len", lambda: HugeLen(3, 3)), ("wrong-type len", lambda: WrongTypeLen(3, 3)),
        ("number and sequence", lambda: NumberAndSequence(2, 2)),
        ("[raising number]", lambda: [1, RaisingNumber(), 3]),
        ("[wrong-result]", lambda: [WrongResultNumber()]),
        ("[raising eq]", lambda: [RaisingEq(), 1]), ("[bad truth]", lambda: [BadTruthEq()]),
        ("clearing list", _clearing_list), ("growing list", _growing_list),
        ("clearing float list", _clearing_float_list), ("clearing key dict", _clearing_key_dict),
        ("clearing value dict", _clearing_value_dict),
        ("int subclass", lambda: IntSub(3)), ("long subclass", lambda: LongSub(3)),
        ("float subclass", lambda: FloatSub(2.5)), ("str subclass", lambda: StrSub("abc")),
        ("unicode subclass", lambda: UnicodeSub(u"abc")),
        ("list subclass", lambda: ListSub([1, 2, 3])), ("tuple subclass", lambda: TupleSub((1, 2))),
        ("dict subclass", lambda: DictSub({0.0: [1], 1.0: [2]})),
        ("bytearray subclass", lambda: BytearraySub("abc")),
        ("old-style sequence", OldStyle), ("old-style number", OldStyleNumber),
        ("object()", object), ("type", lambda: int), ("function", lambda: _raise),
        ("module", lambda: sys), ("exception", lambda: HostileError("x")),
        ("StringIO", StringIO.StringIO), ("write raises", WriteRaises),
        ("write raises BaseException", WriteRaisesBase), ("write garbage", WriteReturnsGarbage),
        ("write not callable", WriteNotCallable), ("write no args", WriteNoArgs),
        ("getattr raises", WriteGetattrRaises), ("write then raise", WriteThenRaise),
    ]


def _module_object_values():
    values = [
        ("NullAttribute", P.NullAttribute), ("IntAttribute", lambda: P.IntAttribute([1, 2, 3])),
        ("FloatAttribute", lambda: P.FloatAttribute({0.0: [1.0], 1.0: [2.0]})),
        ("DoubleAttribute", lambda: P.DoubleAttribute([NAN, 1.0])),
        ("StringAttribute", lambda: P.StringAttribute(["a", "b"])),
        ("GroupAttribute", lambda: P.GroupAttribute([("a", P.IntAttribute(1))])),
        ("deep group", lambda: deep_group(300)),
        ("raising-eq attribute", lambda: RaisingEqInt(1)), ("slots attribute", lambda: SlotsInt(1)),
        ("GroupBuilder", P.GroupBuilder), ("null GroupBuilder", null_builder),
        ("ConstVector", lambda: P.IntAttribute([1, 2, 3]).getData()),
        ("string ConstVector", lambda: P.StringAttribute(["a", "b"]).getData()),
        ("empty ConstVector", lambda: P.IntAttribute([]).getData()),
        ("failed re-init", lambda: failed_init(P.IntAttribute, "x")),
        ("type object", lambda: P.IntAttribute), ("module Util", lambda: P.Util),
        ("__class__ raises", ClassRaiser),
    ]
    for claimed in (P.Attribute, P.IntAttribute, P.StringAttribute, P.GroupAttribute,
                    P.ConstVector, P.GroupBuilder):
        values.append(("claims " + claimed.__name__, lambda claimed=claimed: ClassLiar(claimed)))
    for kind in _attribute_types():
        values.append(("null " + kind.__name__, lambda kind=kind: kind.__new__(kind)))
        sub = SUBCLASSES[kind]
        values.append(("null sub " + kind.__name__, lambda sub=sub: sub.__new__(sub)))
    if testext is not None:
        values.append(("empty vector", lambda: testext.const_vector(P.NullAttribute(), 0.0)))
    return values


VALUES = _scalar_values() + _text_values() + _container_values() + _protocol_values() + \
    _module_object_values()
