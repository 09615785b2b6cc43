"""The module fuzz target's program. The first byte chooses: the rest parsed by parseBinary or
parseXML, or read as a program of calls to the module's constructors, methods and functions
with values made from the bytes (numbers of any width, strings, containers, the suites' hostile
values), run through the suites' harness. A broken contract, or an attribute that does not read
back equal from its own XML and binary, raises; any other exception is a fine answer."""

import struct

import PyOvAttribute as P
import support as S


class Input(object):
    """The fuzzer's bytes, then zeros: every program is complete."""

    def __init__(self, data):
        self.data, self.at = bytearray(data), 0

    def take(self, n):
        self.at += n
        return bytes(self.data[self.at - n:self.at].ljust(n, b"\0"))

    def pick(self, seq):
        return seq[ord(self.take(1)) % len(seq)]


def number(inp, wide=False):
    fmt = inp.pick(["<b", "<i", "<q", "<f", "<d"])
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
        if (type(parsed), parsed.getHash(), parsed.getXML()) != (kind, attribute.getHash(), xml):
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
        label = getattr(fn, "__name__", "call")
        harness(label, fn, *args)
        round_trips(harness.result, label)
    if harness.problems:
        raise AssertionError("\n".join(harness.problems))
