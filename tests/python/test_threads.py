"""Threads: the module lets the interpreter lock go around large library work. Readers use
shared values and a shared builder while a writer re-initialises (3: replaces) the shared
objects under them; under ThreadSanitizer this finds a handle read after the lock is let go."""

import os
import sys
import threading
import unittest

import PyOvAttribute as P

ROUNDS = int(os.environ.get("OVATTR_THREAD_ROUNDS", "12"))
PY3 = sys.version_info[0] >= 3
# Past the sizes at which the lock is given up: 1 MiB of values, 64 KiB of XML text.
FLOATS = [i * 0.5 for i in range(270000)]
SHORT = FLOATS[:20000]


def make_shared():
    floats = P.FloatAttribute({0.0: FLOATS})
    group = P.GroupAttribute([("f", P.FloatAttribute({0.0: SHORT, 1.0: SHORT[::-1]})),
                              ("s", P.StringAttribute(["x"] * 20000)),
                              ("i", P.IntAttribute(range(20000), 4))])
    return [floats, group, P.DoubleAttribute(SHORT)]


class ThreadStress(unittest.TestCase):
    def test_threads_share_values_builders_and_objects(self):
        shared = make_shared()
        expected = [value.getHash() for value in make_shared()]
        texts = [(value.getXML(), bytes(value.getBinary())) for value in shared]
        builder = P.GroupBuilder()
        errors, done = [], []

        def reader(seed):
            try:
                for n in range(ROUNDS):
                    k = (seed + n) % len(shared)
                    made = P.FloatAttribute(FLOATS, seed + 1)  # built unlocked
                    self.assertEqual(P.Attribute.parseXML(texts[k][0]).getHash(), expected[k])
                    self.assertEqual(P.Attribute.parseBinary(texts[k][1]).getHash(), expected[k])
                    for operation in (P.Attribute.getXML, P.Attribute.getBinary, hash,
                                      lambda v: v == made, P.Util.RemoveTimeSamplesIfAllSame):
                        try:
                            operation(shared[k])
                        except TypeError:
                            pass  # caught between its two values: an object holds none
                    builder.set("t%d.v%d" % (seed, n % 4), made)
                    if n % 8 == 0:
                        builder.build(n % 16 == 0)
            except Exception as error:  # pylint: disable=broad-except
                errors.append(error)
            done.append(seed)

        def writer():
            fresh = make_shared()
            while len(done) < 3:
                for k, value in enumerate(fresh):
                    target = shared[k]
                    if not PY3:  # 2.7 re-initialises the shared objects in place
                        try:
                            P.Attribute.__init__(target)  # empties it, and raises TypeError
                        except TypeError:
                            pass
                    else:  # 3 never does: new objects, shared before they hold a value
                        target = shared[k] = type(value).__new__(type(value))
                    if isinstance(value, P.GroupAttribute):
                        target.__init__(value.childList())
                    else:
                        target.__init__(value.getSamples(), value.getTupleSize())

        threads = [threading.Thread(target=reader, args=(seed,)) for seed in range(3)]
        threads.append(threading.Thread(target=writer))
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(errors, [])
        self.assertEqual([value.getHash() for value in shared], expected)
        self.assertIsInstance(builder.build(), P.GroupAttribute)


if __name__ == "__main__":
    unittest.main()
