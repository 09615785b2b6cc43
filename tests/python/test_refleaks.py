"""Reference and memory leak checks: each public operation of PyOvAttribute, on its success
and its failure paths, run many times.

Two measures. Reference counts of every Python object that an operation borrows (its
receiver, its arguments, the items of its argument lists, and heap subclass types, which each
instance references) must come back to where they were: a leaked or stolen reference shows at
once, even under a sanitizer. And the process's resident memory (from /proc/self/statm) must
not grow past a small slack after a warm-up. Each iteration builds its attribute afresh from a
payload of several kilobytes, so that a leaked library handle, builder, sample vector or text
keeps that payload alive and the growth is far above the slack.

OVATTR_REFLEAK_ITERATIONS sets the count (default 2000). Under AddressSanitizer or valgrind
the memory measure says nothing (freed memory is held back on purpose there), so it is skipped
and the reference counts alone are checked; those tools find lost memory themselves.
"""

import gc
import os
import StringIO
import sys
import unittest

import PyOvAttribute as P

try:
    import _ovattr_testext as testext
except ImportError:
    testext = None

ITERATIONS = int(os.environ.get("OVATTR_REFLEAK_ITERATIONS", "2000"))
WARMUP = max(ITERATIONS // 10, 20)
PAGE_SLACK = 256  # 1 MiB of 4 KiB pages; a leak of the smallest payload below is 8 times that

_SANITIZED = ("asan" in os.environ.get("LD_PRELOAD", "") or
              "OVATTR_UNDER_VALGRIND" in os.environ)

_VERBOSE = "OVATTR_REFLEAK_VERBOSE" in os.environ

NAN = float("nan")
INTS = list(range(1000))
FLOATS = [i * 0.25 for i in range(1000)]
STRS = ["value-%04d" % i for i in range(400)]


def resident_pages():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1])


class IntSub(P.IntAttribute):
    pass


class GroupSub(P.GroupAttribute):
    pass


class BuilderSub(P.GroupBuilder):
    pass


class RaisingWrite(object):
    def write(self, _text):
        raise IOError("disk full")


class RaisingNumber(object):
    def __float__(self):
        raise ValueError("no float")

    __int__ = __long__ = __float__


def fresh_int(tuple_size=1):
    return P.IntAttribute(INTS, tuple_size)


def fresh_group():
    return P.GroupAttribute([("ints", P.IntAttribute(INTS)), ("strs", P.StringAttribute(STRS)),
                             ("inner", P.GroupAttribute([("f", P.FloatAttribute(FLOATS))]))])


def fresh_sampled():
    return P.FloatAttribute({0.0: FLOATS, 0.5: FLOATS, 1.0: FLOATS})


class LeakCase(unittest.TestCase):
    """Runs operations ITERATIONS times and checks references and resident memory."""

    # The objects every check watches, besides those a check names itself.
    COMMON = [INTS, FLOATS, STRS, IntSub, GroupSub, BuilderSub, RaisingWrite, RaisingNumber]

    def assertNoLeak(self, operations):
        """operations: (name, callable, borrowed objects to watch). A callable may raise."""
        failures = []
        for name, operation, borrowed in operations:
            watched = list(borrowed) + self.COMMON
            # Items too, except small numbers, which the whole interpreter shares.
            watched += [item for obj in borrowed if isinstance(obj, (list, tuple))
                        for item in obj[:5] if not isinstance(item, (int, long, float))]
            self._run(operation, WARMUP)
            gc.collect()
            # Indexing, not iterating: a loop variable or a zip list would hold references.
            counts = [sys.getrefcount(watched[i]) for i in range(len(watched))]
            pages = resident_pages()
            self._run(operation, ITERATIONS)
            gc.collect()
            grown = resident_pages() - pages
            for index in range(len(watched)):
                after = sys.getrefcount(watched[index])
                if after != counts[index]:
                    failures.append("%s: references to %s went from %d to %d" % (
                        name, _short(watched[index]), counts[index], after))
            if _VERBOSE:
                sys.stderr.write("  %-40s %5d pages\n" % (name, grown))
            if not _SANITIZED and grown > PAGE_SLACK:
                failures.append("%s: resident memory grew by %d pages in %d calls" % (
                    name, grown, ITERATIONS))
        if failures:
            self.fail("\n".join(failures))

    @staticmethod
    def _run(operation, count):
        for _ in xrange(count):
            try:
                operation()
            except Exception:  # pylint: disable=broad-except
                pass
        sys.exc_clear()


def _short(obj):
    text = repr(obj)
    return text if len(text) < 50 else text[:47] + "..."


class TypedConstructionLeaks(LeakCase):
    def test_success_paths(self):
        times = {0.0: INTS, 1.0: INTS}
        str_times = {0.0: STRS, 0.5: STRS}
        self.assertNoLeak([
            ("IntAttribute(list)", lambda: P.IntAttribute(INTS), [INTS]),
            ("IntAttribute(list, 4)", lambda: P.IntAttribute(INTS, 4), [INTS]),
            ("IntAttribute(xrange)", lambda: P.IntAttribute(xrange(1000)), []),
            ("IntAttribute(tuple)", lambda: P.IntAttribute(tuple(INTS)), []),
            ("IntAttribute(dict)", lambda: P.IntAttribute(times), [times]),
            ("IntAttribute(scalar)", lambda: P.IntAttribute(12345), []),
            ("FloatAttribute(list)", lambda: P.FloatAttribute(FLOATS), [FLOATS]),
            ("DoubleAttribute(dict)", lambda: P.DoubleAttribute({0.0: FLOATS}), [FLOATS]),
            ("StringAttribute(list)", lambda: P.StringAttribute(STRS), [STRS]),
            ("StringAttribute(dict)", lambda: P.StringAttribute(str_times), [str_times]),
            ("StringAttribute(long str)", lambda: P.StringAttribute("x" * 8000), []),
            ("StringAttribute(generator list)",
             lambda: P.StringAttribute(LyingStrings(STRS)), [STRS]),
            ("subclass(list)", lambda: IntSub(INTS), [IntSub]),
            ("keywords", lambda: P.DoubleAttribute(attrdata=FLOATS, tupleSize=2), [FLOATS]),
        ])

    def test_failure_paths(self):
        bad_tail = INTS + ["x"]
        bad_strings = STRS + [1]
        unequal = {0.0: INTS, 1.0: INTS[:-1]}
        raising = FLOATS[:100] + [RaisingNumber()]
        self.assertNoLeak([
            ("IntAttribute(bad last item)", lambda: P.IntAttribute(bad_tail), [bad_tail]),
            ("StringAttribute(bad last item)", lambda: P.StringAttribute(bad_strings),
             [bad_strings]),
            ("IntAttribute(unequal samples)", lambda: P.IntAttribute(unequal), [unequal]),
            ("FloatAttribute(raising item)", lambda: P.FloatAttribute(raising), [raising]),
            ("IntAttribute(2**64)", lambda: P.IntAttribute(2 ** 64), []),
            ("IntAttribute([2**64])", lambda: P.IntAttribute(INTS + [2 ** 64]), [INTS]),
            ("IntAttribute(str)", lambda: P.IntAttribute("12"), []),
            ("IntAttribute(bad keyword)", lambda: P.IntAttribute(INTS, bogus=1), [INTS]),
            ("IntAttribute(bad tupleSize)", lambda: P.IntAttribute(INTS, "x"), [INTS]),
            ("FloatAttribute({nan key})", lambda: P.FloatAttribute({NAN: FLOATS}), [FLOATS]),
            ("Attribute()", lambda: P.Attribute(INTS), [INTS]),
            ("DataAttribute()", lambda: P.DataAttribute(INTS), [INTS]),
        ])

    def test_reinitialisation(self):
        def reinit_typed():
            attribute = P.IntAttribute(INTS)
            attribute.__init__(INTS)
            attribute.__init__(FLOATS)

        def reinit_failing():
            attribute = P.StringAttribute(STRS)
            attribute.__init__(5)

        def reinit_group():
            group = fresh_group()
            group.__init__([("a", P.IntAttribute(INTS))])

        def reinit_abstract():
            attribute = P.IntAttribute(INTS)
            P.DataAttribute.__init__(attribute)

        class ReinitOnInt(object):
            """An inherit flag whose conversion re-initialises the group being made."""

            def __init__(self, group):
                self.group = group

            def __int__(self):
                self.group.__init__([("a", P.IntAttribute(INTS))])
                return 1

        def reinit_group_from_its_own_argument():
            group = P.GroupAttribute.__new__(P.GroupAttribute)
            group.__init__([("b", P.IntAttribute(INTS))], ReinitOnInt(group))

        self.assertNoLeak([
            ("IntAttribute.__init__ twice", reinit_typed, [INTS, FLOATS]),
            ("StringAttribute.__init__ failing", reinit_failing, [STRS]),
            ("GroupAttribute.__init__ twice", reinit_group, []),
            ("DataAttribute.__init__ on a value", reinit_abstract, []),
            ("GroupAttribute.__init__ inside its own", reinit_group_from_its_own_argument, []),
        ])


class LyingStrings(object):
    """A sequence that is not a list: the module reads it through a temporary list."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


class AttributeMethodLeaks(LeakCase):
    def test_serialisation(self):
        xml = fresh_group().getXML()
        binary = fresh_group().getBinary()
        binary_str = str(binary)
        self.assertNoLeak([
            ("getXML", lambda: fresh_group().getXML(), []),
            ("getBinary", lambda: fresh_group().getBinary(), []),
            ("parseXML", lambda: P.Attribute.parseXML(xml), [xml]),
            ("parseBinary(bytearray)", lambda: P.Attribute.parseBinary(binary), [binary]),
            ("parseBinary(str)", lambda: P.Attribute.parseBinary(binary_str), [binary_str]),
            ("parseXML(bad)", lambda: P.Attribute.parseXML(xml[:-40]), [xml]),
            ("parseBinary(truncated)", lambda: P.Attribute.parseBinary(binary[:-3]),
             [binary]),
            ("parseBinary(unicode)", lambda: P.Attribute.parseBinary(u"abc"), []),
            ("getHash", lambda: fresh_int().getHash(), []),
            ("getHash64", lambda: fresh_int().getHash64(), []),
        ])

    def test_write_python(self):
        sink = StringIO.StringIO()
        broken = RaisingWrite()

        def write_and_reset(attribute, handle):
            attribute.writePython(handle)
            sink.seek(0)
            sink.truncate()

        self.assertNoLeak([
            ("writePython(data)", lambda: write_and_reset(P.IntAttribute(INTS[:100]), sink),
             [sink]),
            ("writePython(group)", lambda: write_and_reset(fresh_group(), sink), [sink]),
            ("writePython(raising write)", lambda: fresh_int().writePython(broken), [broken]),
            ("writePython(group, raising)", lambda: fresh_group().writePython(broken),
             [broken]),
            ("writePython(null attribute)", lambda: P.NullAttribute().writePython(sink),
             [sink]),
            ("writePython(no file)", lambda: fresh_int().writePython(), []),
        ])

    def test_hash_and_compare(self):
        held = fresh_int()
        table = {held: 1}
        self.assertNoLeak([
            ("hash", lambda: hash(fresh_int()), []),
            ("==", lambda: fresh_int() == held, [held]),
            ("cmp", lambda: cmp(held, fresh_group()), [held]),
            ("== foreign", lambda: fresh_int() == INTS, [INTS]),
            ("dict lookup", lambda: table[fresh_int()], [table, held]),
            ("subclass ==", lambda: IntSub(INTS) == held, [held, IntSub]),
        ])

    def test_objects_without_value(self):
        def null_calls(kind):
            obj = kind.__new__(kind)
            for name in ("getXML", "getBinary", "getHash", "getTupleSize", "getData",
                         "getChildByIndex"):
                try:
                    getattr(obj, name)()
                except Exception:  # pylint: disable=broad-except
                    pass

        self.assertNoLeak([
            ("null IntAttribute", lambda: null_calls(P.IntAttribute), []),
            ("null GroupAttribute", lambda: null_calls(P.GroupAttribute), []),
            ("null subclass", lambda: null_calls(IntSub), [IntSub]),
        ])


class DataAttributeLeaks(LeakCase):
    def test_queries(self):
        self.assertNoLeak([
            ("getTupleSize", lambda: fresh_int(2).getTupleSize(), []),
            ("getNumberOfValues", lambda: fresh_int().getNumberOfValues(), []),
            ("getNumberOfTuples", lambda: fresh_int(3).getNumberOfTuples(), []),
            ("getNumberOfTimeSamples", lambda: fresh_sampled().getNumberOfTimeSamples(), []),
            ("getSampleTime", lambda: fresh_sampled().getSampleTime(1), []),
            ("getSampleTimes", lambda: fresh_sampled().getSampleTimes(), []),
            ("getBoundingSampleTimes", lambda: fresh_sampled().getBoundingSampleTimes(0.25), []),
            ("getBoundingSampleTimes(nan)", lambda: fresh_sampled().getBoundingSampleTimes(NAN),
             []),
            ("getSampleTime(bad)", lambda: fresh_sampled().getSampleTime("x"), []),
            ("on a group", lambda: P.DataAttribute.getTupleSize(P.IntAttribute.__new__(
                P.IntAttribute)), []),
        ])

    def test_typed_reads(self):
        default = "fallback-" + "x" * 100
        self.assertNoLeak([
            ("getData", lambda: fresh_int().getData(), []),
            ("getSamples", lambda: fresh_sampled().getSamples(), []),
            ("getNearestSample", lambda: fresh_sampled().getNearestSample(0.7), []),
            ("getValue", lambda: fresh_int().getValue(), []),
            ("getValue(default)", lambda: P.StringAttribute(STRS).getValue(default, 0),
             [default]),
            ("getValue(empty, default)", lambda: P.StringAttribute([]).getValue(default, 0),
             [default]),
            ("getValue(empty, throw)", lambda: P.IntAttribute([]).getValue(), []),
            ("getValue(bad default)", lambda: fresh_int().getValue(default), [default]),
            ("getValue(bad keyword)", lambda: fresh_int().getValue(bogus=default), [default]),
            ("getNearestSample(bad)", lambda: fresh_int().getNearestSample(default),
             [default]),
            ("getData on wrong kind", lambda: P.IntAttribute.getData(IntSub.__new__(IntSub)),
             [IntSub]),
        ])


class ConstVectorLeaks(LeakCase):
    def test_sequence_operations(self):
        probe = [1, 2, 3]
        self.assertNoLeak([
            ("len", lambda: len(fresh_int().getData()), []),
            ("item", lambda: fresh_int().getData()[-1], []),
            ("item out of range", lambda: fresh_int().getData()[5000], []),
            ("slice", lambda: fresh_int().getData()[10:-10][5:], []),
            ("iterate", lambda: list(P.StringAttribute(STRS).getData()), []),
            ("in", lambda: 999 in fresh_int().getData(), []),
            ("count", lambda: fresh_int().getData().count(7), []),
            ("index", lambda: fresh_int().getData().index(500), []),
            ("index missing", lambda: fresh_int().getData().index(probe), [probe]),
            ("repr", lambda: repr(P.DoubleAttribute(FLOATS).getData()), []),
            ("str of strings", lambda: str(P.StringAttribute(STRS).getData()), []),
            ("== same kind", lambda: fresh_int().getData() == fresh_int().getData(), []),
            ("== list", lambda: fresh_int().getData() == INTS, [INTS]),
            ("< other kind", lambda: fresh_int().getData() < P.FloatAttribute(FLOATS).getData(),
             []),
            ("== foreign", lambda: fresh_int().getData() == 3, []),
            ("toOvAttr whole", lambda: fresh_int().getData().toOvAttr(), []),
            ("toOvAttr slice", lambda: fresh_int(2).getData()[3:50].toOvAttr(), []),
            ("__init__", lambda: fresh_int().getData().__init__(INTS), [INTS]),
            ("hash", lambda: hash(fresh_int().getData()), []),
        ])
        if testext is not None:
            self.assertNoLeak([
                ("empty vector", lambda: (testext.const_vector(fresh_group(), 0.0)[:]
                                          .toOvAttr()), []),
            ])


class GroupLeaks(LeakCase):
    def test_construction(self):
        children = {"a": P.IntAttribute([1]), "b": P.NullAttribute()}
        self.assertNoLeak([
            ("GroupAttribute(list)", fresh_group, []),
            ("GroupAttribute(dict)", lambda: P.GroupAttribute({"a": fresh_int()}), []),
            ("GroupAttribute(dict held)", lambda: P.GroupAttribute(children, 0), [children]),
            ("GroupAttribute(bad item)", lambda: P.GroupAttribute([("a", fresh_int()),
                                                                   ("b", 5)]), []),
            ("GroupAttribute(bad name)", lambda: P.GroupAttribute([(u"a", fresh_int())]), []),
            ("GroupAttribute(raising sequence)",
             lambda: P.GroupAttribute(LyingStrings(None)), []),
            ("subclass", lambda: GroupSub([("a", fresh_int())]), [GroupSub]),
        ])

    def test_methods(self):
        self.assertNoLeak([
            ("getNumberOfChildren", lambda: fresh_group().getNumberOfChildren(), []),
            ("getChildName", lambda: fresh_group().getChildName(1), []),
            ("getChildByIndex", lambda: fresh_group().getChildByIndex(0), []),
            ("getChildByIndex missing", lambda: fresh_group().getChildByIndex(-1), []),
            ("getChildByName path", lambda: fresh_group().getChildByName("inner.f"), []),
            ("childList", lambda: fresh_group().childList(), []),
            ("getGroupInherit", lambda: fresh_group().getGroupInherit(), []),
        ])

    def test_builder(self):
        held = fresh_group()

        def build_everything(mode):
            builder = P.GroupBuilder(mode)
            builder.set("a.b", fresh_int()).set("n", 1).set("f", 2.5).set("s", "text" * 50)
            builder.setWithUniqueName("a", fresh_int()).setWithUniqueName("a", 3)
            builder.update(held).deepUpdate(fresh_group()).reserve(10).setGroupInherit(0)
            builder.delete("n").sort()
            return builder.build(0), builder.build(1)

        def refused():
            builder = BuilderSub()
            builder.set("a", fresh_int())
            for bad in (lambda: builder.set("b", 2 ** 70), lambda: builder.set("b", u"x"),
                        lambda: builder.update(5), lambda: builder.set(u"\xe9", 1),
                        lambda: builder.reserve("x")):
                try:
                    bad()
                except Exception:  # pylint: disable=broad-except
                    pass

        def reinit():
            builder = P.GroupBuilder()
            builder.set("a", fresh_int())
            builder.__init__(1)

        def retained():
            builder = P.GroupBuilder()
            builder.set("a", fresh_int())
            builder.build(1)
            builder.build(1)

        self.assertNoLeak([
            ("builder normal mode", lambda: build_everything(0), [held]),
            ("builder strict mode", lambda: build_everything(1), [held]),
            ("builder refusals", refused, [BuilderSub]),
            ("builder __init__ twice", reinit, []),
            ("builder retained", retained, []),
            ("null builder", lambda: P.GroupBuilder.__new__(P.GroupBuilder).set("a", 1), []),
        ])


class UtilLeaks(LeakCase):
    def test_util_and_delimiters(self):
        times = P.DoubleAttribute({0.0: [0.0], 0.3: [0.0], 0.6: [0.0]})
        name = "a.b/c%d" * 100
        self.assertNoLeak([
            ("RemoveTimeSamplesIfAllSame", lambda: P.Util.RemoveTimeSamplesIfAllSame(
                fresh_sampled()), []),
            ("RemoveTimeSamplesUnneededForShutter",
             lambda: P.Util.RemoveTimeSamplesUnneededForShutter(fresh_sampled(), 0.1, 0.2), []),
            ("ResampleAttrWithInterp", lambda: P.Util.ResampleAttrWithInterp(fresh_sampled(),
                                                                             times), [times]),
            ("Util on a group", lambda: P.Util.RemoveTimeSamplesIfAllSame(fresh_group()), []),
            ("Util bad first", lambda: P.Util.ResampleAttrWithInterp(INTS, times),
             [INTS, times]),
            ("Util bad second", lambda: P.Util.ResampleAttrWithInterp(fresh_sampled(),
                                                                      fresh_group()), []),
            ("Util bad float", lambda: P.Util.RemoveTimeSamplesUnneededForShutter(
                fresh_sampled(), name, 1), [name]),
            ("DelimiterEncode", lambda: P.DelimiterEncode(name), [name]),
            ("DelimiterDecode", lambda: P.DelimiterDecode(P.DelimiterEncode(name)), [name]),
            ("DelimiterEncode(bad)", lambda: P.DelimiterEncode(INTS), [INTS]),
        ])


@unittest.skipIf(testext is None, "the test-only extension module is not built")
class ExportedFunctionLeaks(LeakCase):
    def test_conversions(self):
        held = fresh_group()
        sub = IntSub(INTS)
        self.assertNoLeak([
            ("AttributeFromPyObject", lambda: testext.unwrap(fresh_int()), []),
            ("AttributeFromPyObject foreign", lambda: testext.unwrap(INTS), [INTS]),
            ("PyAttributeFromAttribute", lambda: testext.rewrap(held), [held]),
            ("rewrap subclass", lambda: testext.rewrap(sub), [sub, IntSub]),
            ("PyConstVectorFromDataAttribute", lambda: testext.const_vector(fresh_int(), 0.0),
             []),
            ("wrap unknown tag", lambda: testext.wrap_tag(77), []),
        ])


class LeakCheckSelfTest(LeakCase):
    """The checks are only worth something if they notice a leak of each kind."""

    def test_flags_a_leaked_reference(self):
        kept = []
        payload = ["borrowed"]
        with self.assertRaises(AssertionError) as caught:
            self.assertNoLeak([("keeps a reference", lambda: kept.append(payload), [payload])])
        self.assertIn("references to", str(caught.exception))
        del kept[:]

    @unittest.skipIf(_SANITIZED, "resident memory is not measured here")
    def test_flags_lost_memory(self):
        kept = []
        with self.assertRaises(AssertionError) as caught:
            self.assertNoLeak([("keeps 4 KiB", lambda: kept.append(bytearray(4096)), [])])
        self.assertIn("resident memory grew", str(caught.exception))
        del kept[:]


class ResultReferenceCounts(unittest.TestCase):
    """Results are new references that only the caller holds; so are the items of results."""

    def assertOwnedOnce(self, obj):
        # The caller's variable and its evaluation stack, this parameter and getrefcount's
        # argument.
        self.assertEqual(sys.getrefcount(obj), 4, repr(obj)[:80])

    def test_results_are_owned_by_the_caller_alone(self):
        group = fresh_group()
        sampled = fresh_sampled()
        results = [
            fresh_int().getData(), fresh_int().getData()[2:], fresh_int().getBinary(),
            P.Attribute.parseXML(group.getXML()), P.Attribute.parseBinary(group.getBinary()),
            group.getChildByIndex(0), group.getChildByName("inner"), group.childList(),
            sampled.getSamples(), sampled.getSampleTimes(), sampled.getBoundingSampleTimes(0.1),
            P.GroupBuilder().set("a", 1).build(), fresh_int().getData().toOvAttr(),
            P.Util.RemoveTimeSamplesIfAllSame(sampled), sampled.getValue(), fresh_int().getXML(),
            P.DelimiterEncode("a.b" * 10),
        ]
        while results:
            result = results.pop()
            self.assertOwnedOnce(result)
            if isinstance(result, (list, tuple)):
                for index in range(len(result)):
                    self.assertOwnedByContainer(result[index])
                    if isinstance(result[index], tuple):
                        for part in range(len(result[index])):
                            self.assertOwnedByContainer(result[index][part])
            elif isinstance(result, dict):
                keys = result.keys()
                for index in range(len(keys)):
                    # The dict, the key list and getrefcount's argument.
                    self.assertEqual(sys.getrefcount(keys[index]), 3)
                    self.assertOwnedByContainer(result[keys[index]])
                del keys
            del result

    def assertOwnedByContainer(self, item):
        # The container, the caller's evaluation stack, this parameter and getrefcount's
        # argument; shared singletons aside.
        if item is not None and not isinstance(item, bool):
            self.assertEqual(sys.getrefcount(item), 4, repr(item)[:80])

    def test_builder_returns_itself(self):
        builder = P.GroupBuilder()
        before = sys.getrefcount(builder)
        for _ in range(100):
            self.assertIs(builder.set("a", 1).sort().reserve(2), builder)
        self.assertEqual(sys.getrefcount(builder), before)


if __name__ == "__main__":
    unittest.main()
