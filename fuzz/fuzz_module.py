"""The module fuzz target's program (fuzz_module.cpp hands it each input).

The first byte chooses: the rest parsed by Attribute.parseBinary or parseXML, or read as a
program that builds Python values (numbers of any width and bit pattern, byte and text strings,
lists, tuples, dicts of samples, the suites' hostile values) and calls the module's
constructors, methods and functions with them through the suites' harness (support.Calls).
A broken contract, or an attribute that does not read back equal from its own XML and binary,
raises; any other exception is a fine answer.
"""

import struct

import PyOvAttribute as P
import support as S


class Input(object):
    """The fuzzer's bytes; past the end it reads zeros, so every program is complete."""

    def __init__(self, data):
        self.data, self.at = bytearray(data), 0

    def take(self, n):
        chunk = self.data[self.at:self.at + n]
        self.at += n
        return bytes(chunk + bytearray(n - len(chunk)))

    def pick(self, seq):
        return seq[ord(self.take(1)) % len(seq)]


NUMBERS = ["<b", "<i", "<q", "<f", "<d"]


def number(inp, wide=False):
    fmt = inp.pick(NUMBERS)
    found = struct.unpack(fmt, inp.take(struct.calcsize(fmt)))[0]
    return found << inp.pick(range(72)) if wide and fmt[1] in "biq" else found


def value(inp, depth=0):
    kind = inp.pick(range(8 if depth < 3 else 4))
    if kind < 2:
        return number(inp, kind)
    if kind == 2:
        text = inp.take(inp.pick(range(12)))
        return inp.pick([text, text.decode("latin-1"), text.decode("utf-8", "replace")])
    if kind == 3:
        return inp.pick(S.VALUES)[1]()
    items = [value(inp, depth + 1) for _ in range(inp.pick(range(6)))]
    return [items, tuple(items), dict((number(inp), item) for item in items),
            [(str(i), item) for i, item in enumerate(items)]][kind - 4]


def round_trips(attribute, where):
    """A made attribute reads back from its own XML and binary as the module's type of it."""
    xml = S.attempt(attribute.getXML) if isinstance(attribute, P.Attribute) else None
    if not isinstance(xml, str):
        return  # not an attribute, or one that holds no value
    kind = [t for t in type(attribute).__mro__ if t.__module__ == "PyOvAttribute"][0]
    for parsed in (P.Attribute.parseXML(xml), P.Attribute.parseBinary(attribute.getBinary())):
        if type(parsed) is not kind or parsed.getHash() != attribute.getHash() or \
                parsed.getXML() != xml:
            raise AssertionError("%s: round trip changed %r" % (where, attribute))


def one(data):
    inp = Input(data)
    mode = inp.pick(range(4))
    if mode < 2:
        reader = (P.Attribute.parseBinary, P.Attribute.parseXML)[mode]
        for argument in (data[1:], S.attempt(data[1:].decode, "utf-8")):
            round_trips(S.attempt(reader, argument), reader.__name__)
        return
    harness, receivers = S.Calls(), S.receivers()
    functions = list(S.ATTRIBUTE_TYPES) + [P.GroupBuilder, P.DelimiterEncode, P.Attribute.parseXML,
                                           P.Util.ResampleAttrWithInterp,
                                           P.Util.RemoveTimeSamplesUnneededForShutter]
    for _ in range(1 + inp.pick(range(4))):
        receiver = inp.pick(receivers + [None] * 8)
        if receiver is None:
            fn, args = inp.pick(functions), []
        else:
            name = inp.pick(S.methods(receiver) or ["__init__"])
            fn, args = getattr(type(receiver), name), [receiver]
        args += [value(inp) for _ in range(inp.pick(range(4)))]
        harness(getattr(fn, "__name__", "call"), fn, *args)
        round_trips(harness.result, getattr(fn, "__name__", "call"))
    if harness.problems:
        raise AssertionError("\n".join(harness.problems))
