"""Run by install_and_consume.cmake with the installed prefix and the consumer on the path."""
import os, subprocess, sys
prefix = sys.argv[1]
import PyOvAttribute as ov, OvAttribute, ovattr_consumer as consumer
assert ov.__file__.startswith(prefix) and OvAttribute.__file__.startswith(prefix)

g = (ov.GroupBuilder().set("ints", ov.IntAttribute([1, -2, 2 ** 31 - 1], 3))
     .set("xform.scale", ov.FloatAttribute({0: [1.5], 1: [-2.5]})).set("name", "teapot").build())
d = consumer.doubled(g)
assert list(d.getChildByName("ints").getData()) == [2, -4, -2]
assert d.getChildByName("ints").getTupleSize() == 3
samples = d.getChildByName("xform.scale").getSamples()
assert sorted((t, list(s)) for t, s in samples.items()) == [(0.0, [3.0]), (1.0, [-5.0])]
assert d.getChildByName("name") == g.getChildByName("name") and d != g
w = consumer.with_child(g, "more", d)
assert w.getChildByName("more") == d and w.getChildByName("ints") == g.getChildByName("ints")

tool = subprocess.Popen([os.path.join(prefix, "bin", "ovattr"), "hash", "-"],
                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
assert tool.communicate(g.getXML().encode())[0].decode() == g.getHash() + "  -\n"
