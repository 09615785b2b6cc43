"""Benchmarks of the PyOvAttribute module on 1,000,000 values, each against a standard-library
baseline measured in the same run, under Python 3 or 2.7. Only ratios are judged (absolute
times vary with the machine and its load); ns/element are printed for both sides.

    <build>/run-python3 bench/bench_module.py           # all sections; exits 1 on a MISS
    <build>/run-python3 bench/bench_module.py --quick   # 100,000 values, for a smoke run
    import bench_module; bench_module.run(report)       # report(line) gets each line; returns
                                                        # True when every target is met

Sections are modules with a `run(report)` function of that contract. This file's own sections
come first; bench_groups.py beside it is imported and run after them when it is present. To add
a section, add a file with such a function and its name to EXTRA_SECTIONS.

Targets (ratio = module / baseline):
  IntAttribute(list) vs array('i', list)            <= 0.35  (Float vs 'f', Double vs 'd' alike)
  the dict form, 10 times of 100,000 values         <= 0.40  of building the ten arrays
  StringAttribute(list of short str) vs list(list)  <= 2.0
  v[i] over every element of getData() vs array     <= 1.3
  repr(v) of an int and a double vector vs list     <= 1.0
  v1 == v2, equal vectors of one kind vs lists      <= 0.2
  pickle dumps / loads (the highest protocol) of a FloatAttribute vs of array('f')  <= 3.0 each
  resident memory added by IntAttribute(1M ints)    <= 4.2 MB (the list itself: ~30 MB)
Python 3 only (buffers and iteration):
  FloatAttribute / IntAttribute of a numpy float32 / int32 array vs ndarray.copy()  <= 1.5
  the same of an array.array('f') / ('i') vs a copy of the array (a[:])             <= 1.5
  numpy.asarray(v) and memoryview(v) of 1M values vs of 10 values                   <= 2.0
  for x in v, 1M ints, vs for x in a list of them   <= 1.2
  list(v) vs list(array('i'))                       <= 1.5
"""

import array
import gc
import os
import pickle
import random
import subprocess
import sys

try:
    import cPickle as pickle  # Python 2.7's fast pickle; Python 3's pickle is the C one
except ImportError:
    pass
try:
    import numpy
except ImportError:
    numpy = None

import PyOvAttribute
from timing import best_cpu_seconds_of_pair
from PyOvAttribute import DoubleAttribute, FloatAttribute, IntAttribute, StringAttribute

PY3 = sys.version_info[0] >= 3
if PY3:
    xrange = range  # pylint: disable=redefined-builtin,invalid-name

EXTRA_SECTIONS = ["bench_groups", "bench_threads"]

COUNT = 1000000
REPEATS = 5


def _resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


class _Table(object):
    """Collects rows and reports them as aligned lines."""

    def __init__(self, report):
        self.report = report
        self.all_met = True

    def header(self, title):
        self.report(title)
        self.report("  %-52s %9s %9s %7s  %s" % ("operation vs baseline", "ns/elem", "base",
                                                 "ratio", "target"))

    def ratio(self, label, subject, baseline, elements, limit):
        """Times subject() against baseline(), both over `elements` elements."""
        module_time, base_time = best_cpu_seconds_of_pair(subject, baseline, REPEATS)
        ratio = module_time / base_time
        self._row(label, module_time * 1e9 / elements, base_time * 1e9 / elements, ratio, limit)

    def _row(self, label, subject_ns, base_ns, ratio, limit):
        if ratio <= limit:
            verdict = "PASS (<= %.2f)" % limit
        else:
            verdict = "MISS (> %.2f)" % limit
            self.all_met = False
        self.report("  %-52s %9.2f %9.2f %7.3f  %s" % (label, subject_ns, base_ns, ratio, verdict))

    def memory(self, label, added, limit_bytes, reference=None):
        """Reports `added` resident bytes against limit_bytes."""
        verdict = "PASS" if added <= limit_bytes else "MISS"
        if added > limit_bytes:
            self.all_met = False
        extra = "" if reference is None else "  (%s)" % reference
        self.report("  %-52s %7.2f MB  %s (<= %.1f MB)%s"
                    % (label, added / 1e6, verdict, limit_bytes / 1e6, extra))


def _construction(table, count):
    rng = random.Random(1)
    ints = [rng.randint(-2 ** 31, 2 ** 31 - 1) for _ in xrange(count)]
    floats = [rng.uniform(-1e6, 1e6) for _ in xrange(count)]
    strings = ["s%d" % (i % 100000) for i in xrange(count)]
    assert len(IntAttribute(ints).getData()) == count

    table.header("construction, %d values" % count)
    table.ratio("IntAttribute(list) vs array('i', list)",
                lambda: IntAttribute(ints), lambda: array.array("i", ints), count, 0.35)
    table.ratio("FloatAttribute(list) vs array('f', list)",
                lambda: FloatAttribute(floats), lambda: array.array("f", floats), count, 0.35)
    table.ratio("DoubleAttribute(list) vs array('d', list)",
                lambda: DoubleAttribute(floats), lambda: array.array("d", floats), count, 0.35)

    per_time = count // 10
    int_samples = dict((t * 0.5, ints[t * per_time:(t + 1) * per_time]) for t in range(10))
    float_samples = dict((t * 0.5, floats[t * per_time:(t + 1) * per_time]) for t in range(10))
    table.ratio("IntAttribute(10 times x %d) vs ten array('i')" % per_time,
                lambda: IntAttribute(int_samples),
                lambda: [array.array("i", v) for v in int_samples.values()], count, 0.4)
    table.ratio("DoubleAttribute(10 times x %d) vs ten array('d')" % per_time,
                lambda: DoubleAttribute(float_samples),
                lambda: [array.array("d", v) for v in float_samples.values()], count, 0.4)
    table.ratio("StringAttribute(list of short str) vs list(list)",
                lambda: StringAttribute(strings), lambda: list(strings), count, 2.0)
    return ints, floats


def _index_loop(sequence, count):
    for i in xrange(count):
        sequence[i]  # pylint: disable=pointless-statement


def _reads(table, ints, floats, count):
    vector = IntAttribute(ints).getData()
    ints_array = array.array("i", ints)
    table.header("reads, %d values" % count)
    table.ratio("v[i] over getData() vs array('i')[i]",
                lambda: _index_loop(vector, count), lambda: _index_loop(ints_array, count), count,
                1.3)
    doubles = DoubleAttribute(floats).getData()
    assert repr(vector) == repr(ints) and repr(doubles) == repr(floats)
    table.ratio("repr(int vector) vs repr(list)", lambda: repr(vector), lambda: repr(ints), count,
                1.0)
    table.ratio("repr(double vector) vs repr(list)", lambda: repr(doubles), lambda: repr(floats),
                count, 1.0)
    other = IntAttribute(list(ints)).getData()
    # Equal lists of distinct int objects, so that the comparison cannot take identity short
    # cuts.
    ints_copy = [int(str(x)) for x in ints]
    assert vector == other and ints == ints_copy
    table.ratio("int vector == equal vector vs list == list",
                lambda: vector == other, lambda: ints == ints_copy, count, 0.2)
    other_doubles = DoubleAttribute(floats).getData()
    floats_copy = [float(repr(x)) for x in floats]
    table.ratio("double vector == equal vector vs list == list",
                lambda: doubles == other_doubles, lambda: floats == floats_copy, count, 0.2)


def _pickles(table, floats, count):
    attribute = FloatAttribute(floats)
    values = array.array("f", floats)
    protocol = pickle.HIGHEST_PROTOCOL
    pickled, pickled_array = pickle.dumps(attribute, protocol), pickle.dumps(values, protocol)
    assert pickle.loads(pickled) == attribute and pickle.loads(pickled_array) == values
    table.header("pickles, %d floats, protocol %d" % (count, protocol))
    table.ratio("pickle.dumps(FloatAttribute) vs of array('f')",
                lambda: pickle.dumps(attribute, protocol), lambda: pickle.dumps(values, protocol),
                count, 3.0)
    table.ratio("pickle.loads of it vs of the array's",
                lambda: pickle.loads(pickled), lambda: pickle.loads(pickled_array), count, 3.0)


def _loop(sequence):
    for _ in sequence:
        pass


def _views(vector, calls):
    for _ in xrange(calls):
        memoryview(vector)


def _arrays(vector, calls):
    for _ in xrange(calls):
        numpy.asarray(vector)


def _buffers(table, ints, floats, count):
    """Python 3: construction from buffers, buffers out, iteration."""
    table.header("buffers and iteration, %d values" % count)
    arrays = {"f": array.array("f", floats), "i": array.array("i", ints)}
    for kind, code in ((FloatAttribute, "f"), (IntAttribute, "i")):
        source = arrays[code]
        assert kind(source).getData() == kind(list(source)).getData()
        if numpy is not None:
            ndarray = numpy.frombuffer(source, dtype=code).copy()
            table.ratio("%s(numpy %s array) vs ndarray.copy()" % (kind.__name__, ndarray.dtype),
                        lambda: kind(ndarray), ndarray.copy, count, 1.5)
        table.ratio("%s(array('%s')) vs a copy of the array" % (kind.__name__, code),
                    lambda: kind(source), lambda: source[:], count, 1.5)
    large, small = IntAttribute(arrays["i"]).getData(), IntAttribute(list(range(10))).getData()
    calls = 10000
    if numpy is not None:
        assert numpy.asarray(large).shape == (count,)
        table.ratio("numpy.asarray(v), %d values vs 10 (per call)" % count,
                    lambda: _arrays(large, calls), lambda: _arrays(small, calls), calls, 2.0)
    table.ratio("memoryview(v), %d values vs 10 (per call)" % count,
                lambda: _views(large, calls), lambda: _views(small, calls), calls, 2.0)
    table.ratio("for x in v (ints) vs for x in list", lambda: _loop(large), lambda: _loop(ints),
                count, 1.2)
    table.ratio("list(v) (ints) vs list(array('i'))", lambda: list(large),
                lambda: list(arrays["i"]), count, 1.5)


def _memory_probe(count):
    """Run in a fresh interpreter, whose heap no earlier section has shaped: prints the
    resident bytes added by a list of `count` distinct ints and then by an IntAttribute of
    them."""
    gc.collect()
    before = _resident_bytes()
    ints = list(range(1000000, 1000000 + count))
    with_list = _resident_bytes()
    attr = IntAttribute(ints)
    with_attr = _resident_bytes()
    assert len(attr.getData()) == count
    print("%d %d" % (with_list - before, with_attr - with_list))


def _memory(table, count):
    table.report("memory, %d values (in a fresh interpreter)" % count)
    output = subprocess.check_output([sys.executable, os.path.abspath(__file__),
                                      "--memory-probe", str(count)])
    list_bytes, attr_bytes = [int(x) for x in output.split()]
    # 4 bytes a value, plus 0.2 MB for the block's head and page rounding.
    table.memory("IntAttribute(%d ints) keeps" % count, attr_bytes, 4 * count + 0.2e6,
                 reference="the list of them: %.1f MB" % (list_bytes / 1e6))


def run(report=None):
    """Runs this file's sections and the extra ones; True when every target is met."""
    if report is None:
        def report(line):
            print(line)
            sys.stdout.flush()
    count = COUNT
    table = _Table(report)
    report("PyOvAttribute benchmarks, Python %s (best of %d runs, CPU time; ratio = module / "
           "baseline)" % (sys.version.split()[0], REPEATS))
    ints, floats = _construction(table, count)
    _reads(table, ints, floats, count)
    _pickles(table, floats, count)
    if PY3:
        _buffers(table, ints, floats, count)
    del ints, floats
    _memory(table, count)
    all_met = table.all_met
    here = os.path.dirname(os.path.abspath(__file__))
    if here not in sys.path:
        sys.path.insert(0, here)
    for name in EXTRA_SECTIONS:
        try:
            section = __import__(name)
        except ImportError:
            report("(%s not present; skipped)" % name)
            continue
        report("")
        all_met = section.run(report) and all_met
    return all_met


if __name__ == "__main__":
    if sys.argv[1:2] == ["--memory-probe"]:
        _memory_probe(int(sys.argv[2]))
        sys.exit(0)
    if "--quick" in sys.argv[1:]:
        COUNT = 100000
        REPEATS = 3
    sys.exit(0 if run() else 1)
