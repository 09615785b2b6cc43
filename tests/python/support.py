"""What the suites share: the call harness (Calls), hostile values, and the names that differ
between Python 2 and 3."""

import array
import ctypes
import gc
import os
import sys

try:
    import cStringIO as stringio
except ImportError:
    import io as stringio

import PyOvAttribute as P

PY3 = sys.version_info[0] >= 3
if PY3:
    text, long_int = str, int
else:
    text, long_int = unicode, long  # noqa: F821

try:
    import numpy
except ImportError:
    if os.environ.get("OVATTR_REQUIRE_NUMPY"):  # the build found numpy for this interpreter
        raise
    numpy = None


def py(two, three):
    return three if PY3 else two


def buffer_address(obj):
    """The address of obj's buffer as its exporter gives it (Python 3)."""
    view, api = ctypes.create_string_buffer(256), ctypes.pythonapi  # 256: past any Py_buffer
    api.PyObject_GetBuffer.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_int]
    api.PyBuffer_Release.argtypes = [ctypes.c_void_p]
    if api.PyObject_GetBuffer(obj, view, 0) != 0:
        raise BufferError("no buffer")
    address = ctypes.c_void_p.from_buffer(view).value
    api.PyBuffer_Release(view)
    return address


NAN, INF = float("nan"), float("inf")
UNDER_A_TOOL = any(t in os.environ.get("LD_PRELOAD", "") for t in ("asan", "tsan")) or \
    "OVATTR_UNDER_VALGRIND" in os.environ

TRACE = open(os.environ["OVATTR_HOSTILE_TRACE"], "w") if "OVATTR_HOSTILE_TRACE" in os.environ \
    else None
LEAK_ROUNDS = int(os.environ.get("OVATTR_LEAK_ROUNDS", "300"))

_pending = ctypes.pythonapi.PyErr_Occurred
_pending.restype, _pending.argtypes = ctypes.c_void_p, []


def attempt(fn, *args):
    """fn(*args), or the exception it raised."""
    try:
        return fn(*args)
    except Exception as error:  # pylint: disable=broad-except
        return error


def message(case, error, fn, *args):
    """What fn(*args) says in the `error` it must raise."""
    with case.assertRaises(error) as raised:
        fn(*args)
    return str(raised.exception)


def _shared(obj):
    """Objects the whole interpreter shares (types, None, cached ints and short text), whose
    counts move with unrelated work."""
    if isinstance(obj, (type, bool)) or obj is None or sys.getrefcount(obj) >= 12:
        return True
    if type(obj) in (bytes, text):
        return len(obj) <= 1
    return type(obj) in (int, long_int) and -5 <= obj <= 256


def _held_by(obj):
    """The ids of obj and of what it holds, one level deep into its tuples and dicts."""
    if obj is None:
        return set()
    held = set([id(obj)])
    for ref in gc.get_referents(obj):
        held.add(id(ref))
        # The base types' own iteration: a hostile subclass's runs nothing here.
        for base, items in ((tuple, tuple.__iter__), (list, list.__iter__), (dict, dict.values)):
            if isinstance(ref, base):
                held.update(id(item) for item in items(ref))
    return held


def _forget_frames(error):
    """Python 3 exceptions keep their frames, and the frames the call's arguments."""
    while error is not None and getattr(error, "__traceback__", None) is not None:
        error.__traceback__ = None
        error = error.__context__


def _short(obj):
    try:
        shown = repr(obj)
    except BaseException:  # pylint: disable=broad-except
        shown = "<%s>" % type(obj).__name__
    return shown if len(shown) < 60 else shown[:57] + "..."


class Calls(object):
    """Runs calls and collects every broken contract: a SystemError, an error left pending,
    references to the arguments gained or lost. check(case) fails the test with them all."""

    def __init__(self):
        self.problems = []
        self.count = 0
        self.result = None  # of the last call

    def __call__(self, label, fn, *args, **kwargs):
        """Calls fn(*args, **kwargs); returns its exception or None."""
        self.count += 1
        self.result = None
        if TRACE:  # the last line names the call that crashed a run
            TRACE.write(label + "\n")
            TRACE.flush()
        watched = [o for o in list(args) + list(kwargs.values())
                   if not _shared(o) and id(o) not in SELF_MUTATING]
        before = [sys.getrefcount(watched[i]) for i in range(len(watched))]
        error = None
        try:
            self.result = fn(*args, **kwargs)
        except SystemError as broken:
            self.problems.append("%s: SystemError %s" % (label, broken))
        except BaseException as raised:  # pylint: disable=broad-except
            error = raised
            _forget_frames(error)
        if not PY3:
            sys.exc_clear()
        try:
            if _pending():
                self.problems.append("%s: an error is pending" % label)
        except BaseException as pending:  # pylint: disable=broad-except
            self.problems.append("%s: returned with %r pending" % (label, pending))
        SELF_MUTATING.clear()
        held = _held_by(error) | _held_by(self.result)
        for i in range(len(watched)):
            if id(watched[i]) in held:
                continue  # the error or the result holds it, as it may
            if sys.getrefcount(watched[i]) != before[i]:
                self.problems.append("%s: references to %s went from %d to %d" % (
                    label, _short(watched[i]), before[i], sys.getrefcount(watched[i])))
        return error

    def repeat(self, label, times, fn, *args):
        """The call `times` times (after a warm-up); resident memory must not grow either."""
        pages = []
        for rounds in (max(times // 10, 10), times):
            for _ in range(rounds):
                self(label, fn, *args)
            gc.collect()
            with open("/proc/self/statm") as statm:
                pages.append(int(statm.read().split()[1]))
        grown = pages[1] - pages[0]
        if grown > 256 and not UNDER_A_TOOL:
            self.problems.append("%s: resident memory grew by %d pages" % (label, grown))

    def check(self, case):
        if self.problems:
            case.fail("%d problems:\n%s" % (len(self.problems), "\n".join(self.problems[:40])))


# ---- Hostile values: factories, so that every call sees one fresh -----------------------------

def _raise(*_args, **_kwargs):
    raise ValueError("hostile")


def missing(_self, name):
    raise AttributeError(name)


class Raising(object):
    """Every conversion and protocol method raises."""
    __int__ = __float__ = __index__ = __trunc__ = __long__ = __complex__ = _raise
    __len__ = __getitem__ = __iter__ = __eq__ = __ne__ = __lt__ = __gt__ = _raise
    __hash__ = object.__hash__


class WrongResult(object):
    """Conversions that answer the wrong type."""
    __int__ = __long__ = __float__ = lambda self: "no number"
    __index__ = lambda self: 1.5


class Huge(object):
    __int__ = __long__ = __index__ = lambda self: 2 ** 80
    __float__ = lambda self: 1e300


class Lying(object):
    """A sequence that claims `claimed` items and holds `actual`."""
    def __init__(self, claimed, actual, item=1):
        self.claimed, self.actual, self.item = claimed, actual, item

    def __len__(self):
        return self.claimed

    def __getitem__(self, index):
        if isinstance(index, slice) or not 0 <= index < self.actual:
            raise IndexError(index)
        return self.item


class Mutator(object):
    """Empties (or grows) the container it sits in when converted or compared."""

    def __init__(self, container, grow=False):
        self.container, self.grow = container, grow

    def _act(self, *_args):
        if self.grow:
            self.container.extend(range(10000))
        elif isinstance(self.container, list):
            del self.container[:]
        else:
            self.container.clear()
        return 1

    __int__ = __index__ = __trunc__ = __long__ = _act
    __float__ = lambda self: float(self._act())
    __eq__ = lambda self, other: self._act() and False
    __hash__ = lambda self: 7


SELF_MUTATING = set()  # containers whose Mutator drops their references by design


def _inside(make_container, position, grow=False):
    def factory():
        container = make_container()
        container[position] = Mutator(container, grow)
        SELF_MUTATING.add(id(container))
        return container
    return factory


def _buffer_grown_by_a_key():
    """A bytearray of samples that the key after it tries to grow while it is read."""
    data = bytearray(b"\x01\x02")
    grower = subclass(float, __float__=lambda self: data.extend(b"\x03" * 1000) or 0.5)(0.5)
    return {0.0: data, grower: [1, 2]}


def _dict_emptied_by_a_key():
    samples = {0.5: [2]}
    samples[Mutator(samples)] = [1]
    SELF_MUTATING.add(id(samples))
    return samples


class ClassLiar(object):
    """Claims through __class__ to be of a module type whose fields it does not have."""
    def __init__(self, claimed):
        self.claimed = claimed

    @property
    def __class__(self):
        return self.claimed


class Reinitialiser(object):
    """Each conversion first runs again() (re-initialising or emptying the object a method
    works on; what it raises is swallowed), then answers as `answer` would."""
    def __init__(self, again, answer):
        self.again, self.answer = again, answer

    def _then(self, convert, *_args):
        attempt(self.again)
        return convert(self.answer)

    __int__ = __long__ = __index__ = __trunc__ = lambda self: self._then(int)
    __float__ = lambda self: self._then(float)
    __len__ = lambda self: self._then(lambda _: 1)

    def __getitem__(self, index):
        answer = self._then(lambda a: a)
        if index:
            raise IndexError(index)
        return answer

    __hash__ = object.__hash__


def reentrant_values(target):
    """Values whose conversions re-initialise `target` (or empty it), for its own methods."""
    kind = type(target)
    if isinstance(target, P.GroupBuilder):
        again = [lambda: kind.__init__(target), lambda: kind.__init__(target, 1)]
    elif isinstance(target, P.Attribute):
        data = [[]] if isinstance(target, P.GroupAttribute) else \
            [["x"]] if isinstance(target, P.StringAttribute) else [[1, 2]]
        again = [lambda: kind.__init__(target, *data), lambda: P.Attribute.__init__(target)]
    else:
        return []
    return [("re-inits receiver", lambda a=a, v=v: Reinitialiser(a, v))
            for a in again for v in (1, 0.5)]


def subclass(base, **members):
    return type("Sub" + base.__name__, (base,), members)


ATTRIBUTE_TYPES = (P.Attribute, P.DataAttribute, P.IntAttribute, P.FloatAttribute,
                   P.DoubleAttribute, P.StringAttribute, P.GroupAttribute, P.NullAttribute)


def empty_objects():
    """Objects made by __new__ alone: of each attribute type, a subclass of each, a builder."""
    kinds = ATTRIBUTE_TYPES + tuple(subclass(t) for t in ATTRIBUTE_TYPES) + (P.GroupBuilder,)
    return [k.__new__(k) for k in kinds]


def names(group):
    return [name for name, _ in group.childList()]


def deep_group(depth):
    group = P.GroupAttribute([("leaf", P.IntAttribute([1, 2, 3]))])
    for _ in range(depth):
        group = P.GroupAttribute([("g", group)])
    return group


def attributes():
    """One attribute of each kind and shape that has its own path through the module."""
    return [
        P.NullAttribute(), P.IntAttribute({0.0: [1, 2, 3, 4], 0.5: [5, 6, 7, 8]}, 2),
        P.IntAttribute([1, 2, 3], 0), P.FloatAttribute([NAN, 1.5, -0.0]), P.DoubleAttribute([]),
        P.StringAttribute({0.0: ["a\x00b", "it's"], 1.0: ["\xff", ""]}),
        P.GroupAttribute([("x", P.IntAttribute(1)), ("a.b", P.StringAttribute("s"))], False),
        deep_group(30), subclass(P.DoubleAttribute)(2.5),
    ]


def vectors():
    ints = P.IntAttribute({0.0: [1, 2, 3, 4, 5, 6], 1.0: [0] * 6}, 3)
    return [ints.getData(), ints.getData()[2:5], P.FloatAttribute([0.5, NAN]).getData(),
            P.DoubleAttribute([1e16, -INF]).getData(), P.IntAttribute([]).getData(),
            P.StringAttribute(["a", "it's", "\xff\x00z"]).getData()]


def builders():
    filled = P.GroupBuilder().set("a", 1).set("b.c", "x").set("d", P.GroupAttribute())
    return [P.GroupBuilder(), P.GroupBuilder(1), P.GroupBuilder(-7), filled,
            P.GroupBuilder.__new__(P.GroupBuilder), subclass(P.GroupBuilder)()]


VALUES = [
    ("None", lambda: None), ("True", lambda: True), ("0", lambda: 0), ("-1", lambda: -1),
    ("2**31", lambda: 2 ** 31), ("-2**31-1", lambda: -2 ** 31 - 1), ("2**63", lambda: 2 ** 63),
    ("-2**64", lambda: -2 ** 64), ("10**400", lambda: 10 ** 400), ("2.9", lambda: 2.9),
    ("-0.0", lambda: -0.0), ("1e39", lambda: 1e39), ("1e308", lambda: 1e308),
    ("nan", lambda: NAN), ("-inf", lambda: -INF), ("1j", lambda: 1j),
    ("''", lambda: ""), ("NUL inside", lambda: "a\x00b"), ("high bytes", lambda: "\xff\xfe"),
    ("dots and escapes", lambda: "a..b.%2e%zz/"), ("long str", lambda: "x" * 100000),
    ("u''", lambda: text()), ("u non-ascii", lambda: b"\xc3\xa9t\xc3\xa9".decode("utf-8")),
    ("u surrogate", lambda: b"\xed\xa0\x80".decode("utf-8", "surrogatepass") if PY3 else
     u"\ud800"), ("bytearray", lambda: bytearray(b"\xff\x00" * 40)),
    ("memoryview", lambda: memoryview(b"abc")),
    ("[]", list), ("()", tuple), ("{}", dict), ("[[]]", lambda: [[]]),
    ("mixed list", lambda: [1, "a", 2.5, None]), ("[nan, inf]", lambda: [NAN, INF]),
    ("[2**64]", lambda: [2 ** 64]), ("[1e39]", lambda: [1e39]), ("[u'a']", lambda: [text("a")]),
    ("strs with NUL", lambda: ["a\x00b", ""]), ("many ints", lambda: list(range(5000))),
    ("self-referencing", lambda: (lambda l: l.append(l) or l)([1])),
    ("iterator", lambda: iter([1, 2])), ("generator", lambda: (i for i in [1, 2, 3])),
    ("set", lambda: set([1])), ("{nan: [1]}", lambda: {NAN: [1]}),
    ("{0: [1], 1: [1, 2]}", lambda: {0.0: [1], 1.0: [1, 2]}), ("{'a': [1]}", lambda: {"a": [1]}),
    ("{0: 'abc'}", lambda: {0.0: "abc"}), ("{0: None}", lambda: {0.0: None}),
    ("{2**2000: [1]}", lambda: {2 ** 2000: [1]}), ("{raising: [1]}", lambda: {Raising(): [1]}),
    ("name/attr pairs", lambda: [("a", P.IntAttribute(1)), ("b", P.NullAttribute())]),
    ("bad pairs", lambda: [("a",), ["b", P.NullAttribute()], (text("c"), P.NullAttribute()),
                           ("d", 1), ("e", P.IntAttribute.__new__(P.IntAttribute))]),
    ("raising", Raising), ("wrong results", WrongResult), ("huge", Huge),
    ("[raising]", lambda: [1, Raising()]), ("claims 1000 holds 2", lambda: Lying(1000, 2)),
    ("claims 1 holds 50", lambda: Lying(1, 50)), ("lying floats", lambda: Lying(4, 2, 0.5)),
    ("emptying list", _inside(lambda: [1, 2, 3, 4], 1)),
    ("growing list", _inside(lambda: [1, 2, 3, 4], 1, grow=True)),
    ("emptying float list", _inside(lambda: [1.0, 2.0, 3.0], 0)),
    ("dict emptied by a key", _dict_emptied_by_a_key),
    ("subclass int", lambda: subclass(int, __int__=_raise, __float__=_raise)(3)),
    ("subclass float", lambda: subclass(float, __float__=_raise)(2.5)),
    ("subclass str", lambda: subclass(str, __len__=_raise)("abc")),
    ("subclass list", lambda: subclass(list, __len__=_raise, __iter__=_raise)([1, 2])),
    ("subclass dict", lambda: subclass(dict, __iter__=_raise, keys=_raise)({0.0: [1]})),
    ("object()", object), ("type", lambda: int), ("module", lambda: sys),
    ("file with raising write", lambda: type("F", (), {"write": _raise})()),
    ("GroupBuilder", lambda: builders()[3]), ("vector", lambda: vectors()[1]),
    ("type object", lambda: P.IntAttribute), ("Util", lambda: P.Util),
    ("bytes", lambda: b"a\xff"), ("array i", lambda: array.array("i", [1, -2])),
    ("array d", lambda: array.array("d", [0.5])), ("buffer grown by a key", _buffer_grown_by_a_key),
] + py([], [("strided view", lambda: memoryview(array.array("h", range(6)))[::2]),
            ("2-d view", lambda: memoryview(b"abcd").cast("B", (2, 2)))]) + (
    [("numpy", lambda: numpy.arange(4, dtype="int64"))] if numpy is not None else []) + [
    ("attribute %d" % i, lambda i=i: attributes()[i]) for i in range(9)] + [
    ("empty %d" % i, lambda i=i: empty_objects()[i]) for i in (0, 2, 6, 10, 16)] + [
    ("claims " + t.__name__, lambda t=t: ClassLiar(t))
    for t in (P.IntAttribute, P.GroupAttribute, P.ConstVector, P.GroupBuilder)]


# ---- What the sweeps call: good arguments, one replaced by a hostile value at a time ---------
GOOD_ARGS = {
    "getSampleTime": [0], "getBoundingSampleTimes": [0.25], "getNearestSample": [0.25],
    "getChildName": [0], "getChildByIndex": [1], "getChildByName": ["a"],
    "set": ["a.b", 1, 1], "setWithUniqueName": ["a", 2.5, 0], "delete": ["a"],
    "reserve": [4], "build": [1],
    "setGroupInherit": [0], "count": [1], "index": [1], "writePython": [stringio.StringIO()],
}


def good_args(receiver, name):
    if name == "getValue":
        return ["dflt" if isinstance(receiver, P.StringAttribute) else 7, 0]
    if name in ("update", "deepUpdate"):  # made afresh: no attribute lives in this module
        return [P.GroupAttribute([("a", P.IntAttribute(1))])]
    return list(GOOD_ARGS.get(name, []))


def methods(obj):
    """The methods the module's types give obj, the static parsers aside."""
    names = set()
    for klass in type(obj).__mro__:
        if klass.__module__ == "PyOvAttribute":
            names.update(n for n, m in vars(klass).items()
                         if not n.startswith("__") and not isinstance(m, staticmethod))
    return sorted(names - set(["parseXML", "parseBinary"]))


def receivers():
    return attributes() + empty_objects() + vectors() + builders()
