"""Writes the seed corpora of the module's fuzz targets into fuzz/corpus/<entry>/.

Run with the built module on the path, from any folder:
    BUILD/run-python fuzz/make_seeds.py
The seeds are the XML and binary forms of attributes of every kind and shape, hand-broken
variants of them, and byte programs for fuzz_typed_construction that reach each of its
actions. Files are rewritten in place; the output is deterministic.
"""

import os
import random
import struct

import PyOvAttribute as P

HERE = os.path.dirname(os.path.abspath(__file__))
NAN = float("nan")
INF = float("inf")


def attributes():
    g = P.GroupBuilder()
    g.set("a.b.c", 1).set("a.d", 2.5).set("s", "text").set("x", P.GroupAttribute())
    return {
        "null": P.NullAttribute(),
        "int": P.IntAttribute([1, -2, 2 ** 31 - 1, -2 ** 31], 2),
        "int_scalar": P.IntAttribute(-7),
        "int_tuple0": P.IntAttribute([1, 2, 3], 0),
        "int_samples": P.IntAttribute({0.0: [1, 2], 0.5: [3, 4], -1.0: [5, 6]}),
        "int_empty": P.IntAttribute([]),
        "float_specials": P.FloatAttribute([NAN, INF, -INF, -0.0, 1e-45, 3.4028235e38]),
        "double": P.DoubleAttribute({0.25: [0.1, 1e308], 0.75: [5e-324, -NAN]}, 2),
        "string": P.StringAttribute(["a", "it's", "<&>\"%", "\xff\xfe", "caf\xc3\xa9", ""]),
        "string_samples": P.StringAttribute({0.0: ["x"], 1.0: ["y"]}),
        "group": P.GroupAttribute([("ints", P.IntAttribute([1, 2])),
                                   ("a.b", P.NullAttribute()),
                                   ("g", P.GroupAttribute([], False))]),
        "built": g.build(),
        "nested_20": nested(20),
    }


def nested(depth):
    group = P.GroupAttribute([("leaf", P.IntAttribute(1))])
    for _ in range(depth):
        group = P.GroupAttribute([("g", group)])
    return group


def write(entry, name, data):
    folder = os.path.join(HERE, "corpus", entry)
    if not os.path.isdir(folder):
        os.makedirs(folder)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def xml_seeds():
    for name, attribute in sorted(attributes().items()):
        text = attribute.getXML()
        write("module_parseXML", name + ".xml", text)
    text = attributes()["group"].getXML()
    write("module_parseXML", "bad_truncated.xml", text[:len(text) // 2])
    write("module_parseXML", "bad_nul.xml", text.replace("ints", "in\x00ts"))
    write("module_parseXML", "bad_count.xml", text.replace('children="3"', 'children="4"'))
    write("module_parseXML", "bad_number.xml",
          attributes()["int"].getXML().replace("-2", "-2x"))
    write("module_parseXML", "declaration_comment.xml",
          '<?xml version="1.0"?><!-- c --><attr version="1" type="null"/>')
    write("module_parseXML", "utf8_name.xml", attributes()["group"].getXML().replace(
        'name="ints"', 'name="caf\xc3\xa9%00"'))
    write("module_parseXML", "empty.xml", "")


def binary_seeds():
    for name, attribute in sorted(attributes().items()):
        write("module_parseBinary", name + ".bin", str(attribute.getBinary()))
    blob = str(attributes()["group"].getBinary())
    write("module_parseBinary", "bad_truncated.bin", blob[:-5])
    write("module_parseBinary", "bad_trailing.bin", blob + "\x00")
    write("module_parseBinary", "bad_magic.bin", "XVAB" + blob[4:])
    write("module_parseBinary", "bad_version.bin", blob[:4] + struct.pack("<I", 9) + blob[8:])
    huge = str(attributes()["int"].getBinary())
    # A value count that claims far more bytes than remain.
    write("module_parseBinary", "bad_huge_count.bin",
          huge[:18] + struct.pack("<Q", 2 ** 62) + huge[26:])
    write("module_parseBinary", "empty.bin", "")


def construction_seeds():
    # Hand-made programs: action byte, then the bytes that action reads (see the target).
    programs = {
        "typed_int_list": "\x00\x00\x13\x00\x08\x00" + "".join(chr(i) * 2 for i in range(8)),
        "typed_float_dict": "\x00\x01\x0a\x02\x00\x08\x13\x02\x01\x00\x00\x80\x3f" * 2,
        "typed_string_list": "\x00\x03\x14\x03\x02ab\x03a\x00b\x00",
        "typed_tuple_size": "\x00\x00\x13\x06\x00" + "\x01\x00" * 6 + "\x01\x03" + "\x00" * 8,
        "typed_clearing_list": "\x00\x01\x0f\x04\x02\x00",
        "typed_clearing_dict": "\x00\x02\x10\x13\x02\x00\x01\x00\x02\x00\x00",
        "typed_hostile": "\x00\x00\x0e\x01\x30\x02\x00",
        "typed_reinit": "\x00\x00\x06\x03abc\x03\x00\x01\x02\x03",
        "group_pairs": "\x01\x08\x02\x12\x01a\x00\x06\x12\x01b\x04\x00\x01\x00",
        "group_dict": "\x01\x0a\x01\x04\x01a\x0c\x04\x00",
        "builder": "\x02\x00\x04\x03a.b\x00\x05\x01\x00\x02x\x06\x02hi\x01\x01\x00\x00\x01",
        "vector_compare": "\x03\x00\x13\x04\x00\x01\x00\x02\x00\x03\x00\x04\x00\x08\x02\x00\x01\x00\x02",
        "forged": "\x03\x00\x13\x02\x00\x01\x00\x02\x00\x0e\x02\x00\x00",
    }
    for name, program in programs.items():
        write("typed_construction", name + ".bin", program)
    rng = random.Random(20240611)
    for index in range(16):
        size = rng.choice((8, 16, 32, 64, 128, 256))
        write("typed_construction", "random_%02d.bin" % index,
              "".join(chr(rng.randrange(256)) for _ in range(size)))


if __name__ == "__main__":
    xml_seeds()
    binary_seeds()
    construction_seeds()
