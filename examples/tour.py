"""A walk through PyOvAttribute: values of every kind, time samples, a nested group built step
by step, the three written forms (XML, binary, Python text) read back, and the time-sample
utilities. Each step checks what it shows, so the tour doubles as a smoke test.

Run it with the built module on the path, under Python 3 or 2.7:

    make                              # builds everything, then runs this tour under each
    <build>/run-python3 examples/tour.py
"""

from __future__ import print_function

import sys

try:
    from cStringIO import StringIO  # Python 2.7
except ImportError:
    from io import StringIO

import OvAttribute
import PyOvAttribute as ov
from PyOvAttribute import (Attribute, DoubleAttribute, FloatAttribute, GroupAttribute,
                           GroupBuilder, IntAttribute, NullAttribute, StringAttribute, Util)


def section(title):
    print()
    print(title)


def show(label, value):
    print("  %-38s %s" % (label, value))


def check(condition, what):
    if not condition:
        sys.exit("tour: expected %s" % what)


def values_of_every_kind():
    section("1. Values of every kind")
    resolution = IntAttribute([1920, 1080, 1280, 720], 2)
    gamma = FloatAttribute(2.2)
    exposure = DoubleAttribute(0.1)
    lights = StringAttribute(["key", "fill", "rim"])
    nothing = NullAttribute()
    show("IntAttribute([...], tupleSize=2)",
         "%s: %d tuples of %d" % (resolution.getData(), resolution.getNumberOfTuples(),
                                  resolution.getTupleSize()))
    show("FloatAttribute(2.2).getValue()", "%r (32-bit)" % gamma.getValue())
    show("DoubleAttribute(0.1).getValue()", "%r (64-bit)" % exposure.getValue())
    show("StringAttribute([...]).getData()", lights.getData())
    show("NullAttribute() == NullAttribute()", nothing == NullAttribute())
    show("hash of the resolution", resolution.getHash())
    check(list(resolution.getData()) == [1920, 1080, 1280, 720], "the resolution values")
    check(exposure.getValue() == 0.1 and gamma.getValue() != 2.2, "32- and 64-bit floats")
    check(resolution == IntAttribute((1920, 1080, 1280, 720), 2), "equal values to compare equal")
    return resolution, lights


def time_samples():
    section("2. Time samples")
    fov = FloatAttribute({0.0: [40.0], 1.0: [50.0], 2.0: [45.0]})
    show("sample times of the field of view", fov.getSampleTimes())
    show("nearest sample to 0.8", fov.getNearestSample(0.8))
    show("samples bounding 0.5", fov.getBoundingSampleTimes(0.5))
    show("getSamples()", sorted(fov.getSamples().items()))
    check(fov.getNumberOfTimeSamples() == 3, "three samples")
    check(list(fov.getNearestSample(0.8)) == [50.0], "the sample at 1.0 to be nearest 0.8")
    return fov


def build_a_scene(resolution, lights, fov):
    section("3. A nested group, built step by step")
    builder = GroupBuilder()  # normal mode: dotted names are paths into child groups
    builder.set("camera.fov", fov).set("camera.name", "main")
    builder.set("render.resolution", resolution).set("render.gamma", 2.2).set("render.samples", 64)
    for light in lights.getData():
        builder.setWithUniqueName("light", light)
    # A name with dots of its own stays one child once delimiter-encoded.
    builder.set(ov.DelimiterEncode("notes.v1.2"), "first pass")
    builder.setGroupInherit(False)
    scene = builder.build()
    show("children", [name for name, _ in scene.childList()])
    show("camera children", [name for name, _ in scene.getChildByName("camera").childList()])
    show("scene.getChildByName('render.samples')", scene.getChildByName("render.samples").getValue())
    show("decoded name of the last child", ov.DelimiterDecode(scene.getChildName(5)))
    show("the builder after build()", "%d children" % builder.build().getNumberOfChildren())
    check(scene.getChildByName("camera.fov") == fov, "the field of view inside the camera group")
    check(scene.getNumberOfChildren() == 6, "six top-level children")
    check(type(scene.getChildByName("render.gamma")) is FloatAttribute, "a float from 2.2")
    same = GroupAttribute([(name, child) for name, child in scene.childList()], False)
    check(same == scene, "the initialiser to make the same group from the child list")
    return scene


def written_forms(scene):
    section("4. Written forms, read back")
    xml = scene.getXML()
    from_xml = Attribute.parseXML(xml)
    show("XML", "%d characters, reads back equal: %s" % (len(xml), from_xml == scene))
    binary = scene.getBinary()
    from_binary = Attribute.parseBinary(binary)
    show("binary", "%d bytes, reads back equal: %s" % (len(binary), from_binary == scene))
    out = StringIO()
    scene.writePython(out)
    text = out.getvalue()
    # readPython parses the text and refuses anything but what writePython writes; eval()
    # would run whatever a string value in a file from elsewhere smuggled in.
    from_text = OvAttribute.readPython(text)
    show("Python text", "%d characters, reads back equal: %s" % (len(text), from_text == scene))
    show("Python text of the camera", python_text(scene.getChildByName("camera")))
    for name, copy in (("XML", from_xml), ("binary", from_binary), ("Python text", from_text)):
        check(type(copy) is GroupAttribute and copy.getHash() == scene.getHash(),
              "the %s form to read back into an equal group" % name)


def python_text(attribute):
    out = StringIO()
    attribute.writePython(out)
    return out.getvalue()


def utilities(scene, fov):
    section("5. Cleaning and resampling time samples")
    steady = IntAttribute({0.0: [3], 1.0: [3], 2.0: [3]})
    single = Util.RemoveTimeSamplesIfAllSame(steady)
    show("alike samples removed", "%d -> %d samples" % (steady.getNumberOfTimeSamples(),
                                                        single.getNumberOfTimeSamples()))
    shutter = Util.RemoveTimeSamplesUnneededForShutter(fov, 0.25, 0.75)
    show("samples kept for the shutter 0.25-0.75", shutter.getSampleTimes())
    times = FloatAttribute({0.5: [0.0], 1.5: [0.0]})
    resampled = Util.ResampleAttrWithInterp(fov, times)
    show("fov resampled at 0.5 and 1.5", sorted((t, list(v))
                                                for t, v in resampled.getSamples().items()))
    scene_at = Util.ResampleAttrWithInterp(scene, times)
    show("scene resampled: camera.fov times", scene_at.getChildByName("camera.fov").getSampleTimes())
    check(single == IntAttribute(3), "three alike samples to become one")
    check(shutter.getSampleTimes() == (0.0, 1.0), "the samples around the shutter to stay")
    check(list(resampled.getNearestSample(0.5)) == [45.0] and
          list(resampled.getNearestSample(1.5)) == [47.5], "linear interpolation")
    check(type(scene_at) is GroupAttribute, "a group to resample into a group")


def main():
    print("PyOvAttribute tour")
    resolution, lights = values_of_every_kind()
    fov = time_samples()
    scene = build_a_scene(resolution, lights, fov)
    written_forms(scene)
    utilities(scene, fov)
    print()
    print("Tour complete.")


if __name__ == "__main__":
    main()
