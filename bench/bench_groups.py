"""Benchmarks of groups: building 10,000 children, looking them up by name, listing them.

Each operation is timed against a plain-Python baseline measured in the same run, and only the
ratio is reported (absolute times vary with the machine and its load).

    <build>/run-python bench/bench_groups.py          # prints the table, exits 1 on a MISS
    import bench_groups; bench_groups.run(report)     # report(line) gets each line; returns
                                                      # True when every target is met

Targets: getChildByName within 2x of its baseline, building a group of 10,000 attributes with
GroupBuilder.set within 3x of building a dict of the same names and attributes, writePython of
the group within 20x of getXML of it (both write every child's values as text). The other rows
are reported for information; among them set of plain ints, where the builder also makes an
IntAttribute per value (an allocation, and a free when the group goes) that the dict does not.
"""

import sys

try:
    from cStringIO import StringIO  # Python 2.7
except ImportError:
    from io import StringIO

import PyOvAttribute
from timing import best_cpu_seconds_of_pair
from PyOvAttribute import GroupAttribute, GroupBuilder, IntAttribute

CHILDREN = 10000
REPEATS = 15


def _pair(subject, baseline):
    return best_cpu_seconds_of_pair(subject, baseline, REPEATS)


def _data():
    names = ["child_%05d" % i for i in range(CHILDREN)]
    numbers = list(range(CHILDREN))
    attributes = [IntAttribute(n) for n in numbers]
    return names, numbers, attributes


def _build_with_set(pairs):
    builder = GroupBuilder(PyOvAttribute.GroupBuilderModeStrict)
    for name, value in pairs:
        builder.set(name, value)
    return builder.build()


def _build_dict(pairs):
    table = {}
    for name, value in pairs:
        table[name] = value
    return table


def _lookup_children(group, names):
    for name in names:
        group.getChildByName(name)


# The baseline of a lookup by name: a keyed lookup through a method call, as getChildByName is,
# plus the making of a new small object that holds the value found, as the wrapping of the
# child in a new attribute object is. slice() is the cheapest constructor of the interpreter
# that stores one object reference in a freshly allocated object, so the baseline does the
# same three things (method call, lookup, allocation) with no work of its own beyond them.
def _lookup_dict(table, names):
    for name in names:
        slice(table.get(name))


def measure():
    """Returns [(label, module seconds, baseline seconds, limit or None)] for the operations."""
    names, numbers, attributes = _data()
    int_pairs = list(zip(names, numbers))
    attribute_pairs = list(zip(names, attributes))
    group = GroupAttribute(attribute_pairs)
    table = dict(attribute_pairs)
    assert group.getNumberOfChildren() == CHILDREN

    rows = [
        ("GroupBuilder.set of ints vs dict[name] = value",
         lambda: _build_with_set(int_pairs), lambda: _build_dict(int_pairs), None),
        ("GroupBuilder.set of attributes vs dict[name] = value",
         lambda: _build_with_set(attribute_pairs), lambda: _build_dict(attribute_pairs), 3.0),
        ("GroupAttribute(pairs) vs dict(pairs)",
         lambda: GroupAttribute(attribute_pairs), lambda: dict(attribute_pairs), None),
        ("getChildByName vs slice(dict.get(name))",
         lambda: _lookup_children(group, names), lambda: _lookup_dict(table, names), 2.0),
        ("childList() vs list(dict.items())", group.childList, lambda: list(table.items()),
         None),
        ("writePython(StringIO) vs getXML()",
         lambda: group.writePython(StringIO()), group.getXML, 20.0),
    ]
    return [(label,) + _pair(subject, baseline) + (limit,)
            for label, subject, baseline, limit in rows]


def run(report=None):
    """Measures and reports each row through report(line); True when every target is met."""
    if report is None:
        def report(line):
            print(line)
    report("groups of %d children (best of %d runs, CPU time; ratio = module / baseline)"
           % (CHILDREN, REPEATS))
    report("  %-52s %9s %9s %7s  %s" % ("operation vs baseline", "ns/child", "base", "ratio",
                                        "target"))
    all_met = True
    for label, module_time, base_time, limit in measure():
        ratio = module_time / base_time
        if limit is None:
            verdict = "(no target)"
        elif ratio <= limit:
            verdict = "PASS (<= %.1f)" % limit
        else:
            verdict = "MISS (> %.1f)" % limit
            all_met = False
        report("  %-52s %9.1f %9.1f %7.2f  %s" % (label, module_time * 1e9 / CHILDREN,
                                                  base_time * 1e9 / CHILDREN, ratio, verdict))
    return all_met


if __name__ == "__main__":
    sys.exit(0 if run() else 1)
