"""The module's registered surface: types, bases, docstrings, the methods of each type with
their calling conventions, the constants, the Util submodule, the symbols the shared object
exports, and the C interface driven from another compiled module."""

import ast
import inspect
import os
import subprocess
import sys
import types
import unittest

import PyOvAttribute as P
import _ovattr_testext as testext
import support as S

DATA_METHODS = ["getBoundingSampleTimes", "getNumberOfTimeSamples", "getNumberOfTuples",
                "getNumberOfValues", "getSampleTime", "getSampleTimes", "getTupleSize"]
TYPED_METHODS = ["getData", "getNearestSample", "getSamples", "getValue"]
# name: (base, docstring, may be subclassed, own methods)
TYPES = {
    "Attribute": (object, "TESSARK attribute", True, ["getBinary", "getHash", "getHash64",
                                                       "getXML", "parseBinary", "parseXML",
                                                       "writePython"]),
    "DataAttribute": ("Attribute", "TESSARK data attribute", True, DATA_METHODS),
    "IntAttribute": ("DataAttribute", "TESSARK IntAttribute ", True, TYPED_METHODS),
    "FloatAttribute": ("DataAttribute", "TESSARK FloatAttribute ", True, TYPED_METHODS),
    "DoubleAttribute": ("DataAttribute", "TESSARK DoubleAttribute ", True, TYPED_METHODS),
    "StringAttribute": ("DataAttribute", "TESSARK StringAttribute ", True, TYPED_METHODS),
    "GroupAttribute": ("Attribute", "TESSARK GroupAttribute ", True,
                       ["childList", "getChildByIndex", "getChildByName", "getChildName",
                        "getGroupInherit", "getNumberOfChildren", "writePython"]),
    "NullAttribute": ("Attribute", "TESSARK NullAttribute ", True, []),
    "ConstVector": (object, "TESSARK ConstVector ", False, ["count", "index", "toOvAttr"]),
    "GroupBuilder": (object, "TESSARK GroupBuilder", True,
                     ["build", "deepUpdate", "delete", "reserve", "set", "setGroupInherit",
                      "setWithUniqueName", "sort", "update"]),
}
NO_ARGUMENTS = set(["getXML", "getBinary", "getHash", "getHash64", "getTupleSize", "sort",
                    "getNumberOfValues", "getNumberOfTuples", "getNumberOfTimeSamples",
                    "getSampleTimes", "getData", "getSamples", "getNumberOfChildren",
                    "childList", "getGroupInherit", "toOvAttr"])


class Surface(unittest.TestCase):
    def test_module_constants_and_util(self):
        self.assertEqual(P.__doc__, "Python OvAttribute Bindings")
        self.assertEqual(sorted(n for n in dir(P) if not n.startswith("__")),
                         sorted(list(TYPES) + ["DelimiterDecode", "DelimiterEncode", "Util"] +
                                ["GroupBuilder" + c for c in ("BuildAndFlush", "BuildAndRetain",
                                                              "ModeNormal", "ModeStrict")]))
        self.assertEqual([P.GroupBuilderModeNormal, P.GroupBuilderModeStrict,
                          P.GroupBuilderBuildAndFlush, P.GroupBuilderBuildAndRetain], [0, 1, 0, 1])
        self.assertIsInstance(P.Util, types.ModuleType)
        self.assertEqual((P.Util.__name__, P.Util.__doc__), ("PyOvAttribute.Util", "Utilities"))
        self.assertEqual(sorted(n for n in dir(P.Util) if not n.startswith("__")),
                         ["RemoveTimeSamplesIfAllSame", "RemoveTimeSamplesUnneededForShutter",
                          "ResampleAttrWithInterp"])
        for fn in [P.DelimiterEncode, P.DelimiterDecode, P.Util.ResampleAttrWithInterp]:
            self.assertEqual(fn.__doc__ == "", not S.PY3)  # 3: real docstrings (test_stub)
            self.assertRaises(TypeError, fn, text="x")

    def test_types(self):
        for name, (base, doc, subclassable, own) in TYPES.items():
            kind = getattr(P, name)
            base = getattr(P, base) if isinstance(base, str) else base
            self.assertEqual((kind.__module__, kind.__name__, kind.__bases__, kind.__doc__),
                             ("PyOvAttribute", name, (base,), S.py(doc, kind.__doc__)))
            methods = sorted(n for n, m in vars(kind).items()
                             if not n.startswith("__") and callable(getattr(kind, n)))
            self.assertEqual(methods, sorted(own), name)
            for method in own:
                self.assertEqual(getattr(kind, method).__doc__ == "", not S.PY3, method)
            if subclassable:
                self.assertTrue(issubclass(S.subclass(kind), kind))
            else:
                self.assertRaises(TypeError, S.subclass, kind)
        self.assertRaises(TypeError, P.ConstVector)

    def test_calling_conventions(self):
        receivers = [P.IntAttribute([1, 2]), P.StringAttribute("s"), P.GroupAttribute(),
                     P.IntAttribute([1]).getData(), P.GroupBuilder()]
        for receiver in receivers:
            for name in dir(receiver):
                if name.startswith("__") or name in ("parseXML", "parseBinary"):
                    continue
                method = getattr(receiver, name)
                if name in NO_ARGUMENTS:
                    self.assertRaises(TypeError, method, 1)
                if name != "getValue":
                    self.assertRaises(TypeError, method, keyword=1)
        self.assertIsInstance(P.NullAttribute().parseBinary(P.IntAttribute(1).getBinary()),
                              P.IntAttribute)

    def test_receivers_without_a_value(self):
        # Checked before any argument is parsed: a bad argument changes nothing.
        new, data, group = (lambda k: k.__new__(k)), P.DataAttribute, P.GroupAttribute
        for owner, receivers, names, message in [
                (P.IntAttribute, [new(P.IntAttribute), new(S.subclass(P.IntAttribute)),
                                  P.Attribute.__new__(P.IntAttribute)], TYPED_METHODS,
                 "Underyling Attribute is invalid."),
                (data, [new(k) for k in (data, P.IntAttribute, P.StringAttribute,
                                         S.subclass(P.FloatAttribute))], DATA_METHODS,
                 "Invalid attr"),
                (group, [new(group), P.Attribute.__new__(S.subclass(group))],
                 TYPES["GroupAttribute"][3][:-1], "Invalid attr"),
                (P.Attribute, S.empty_objects()[:8], ["getXML", "getHash", "getHash64"],
                 "Invalid attr"),
                (P.Attribute, S.empty_objects()[:8], ["getBinary"],
                 "could not getBinary representation of OvAttribute"),
                (P.GroupBuilder, [new(P.GroupBuilder)], TYPES["GroupBuilder"][3],
                 "GroupBuilder is not initialised")]:
            for receiver in receivers:
                for name in names:
                    args = [] if name in NO_ARGUMENTS or name == "build" else ["bad argument"]
                    self.assertEqual(S.message(self, TypeError, getattr(owner, name), receiver,
                                               *args), message, name)


@unittest.skipUnless(S.PY3, "docstrings, signatures and the stub are Python 3's")
class Stub(unittest.TestCase):
    """PyOvAttribute.pyi against the module: the same names, methods and parameters."""

    def test_stub_and_signatures(self):
        with open(os.path.join(os.path.dirname(P.__file__), "PyOvAttribute.pyi")) as stub:
            tree = ast.parse(stub.read())
        named = dict((getattr(n, "name", None) or getattr(getattr(n, "target", n), "id", "_"), n)
                     for n in tree.body)
        named = dict((k, n) for k, n in named.items() if not k.startswith("_"))
        self.assertEqual(sorted(named), sorted(n for n in dir(P) if not n.startswith("_")))
        for name, node in named.items():
            real = getattr(P, name)
            if isinstance(node, ast.FunctionDef):
                self.assertParameters(node, real)
            elif isinstance(node, ast.ClassDef):
                defs = [d for d in node.body if isinstance(d, ast.FunctionDef)]
                own = [n for n in (vars(real) if real is not P.Util else dir(real))
                       if not n.startswith("_")]
                self.assertEqual(sorted(d.name for d in defs if not d.name.startswith("_")),
                                 sorted(own), name)
                self.assertEqual([b.id for b in node.bases if isinstance(b, ast.Name)],
                                 [b.__name__ for b in getattr(real, "__bases__", ())
                                  if b is not object])
                for d in defs:
                    if not d.name.startswith("_"):
                        self.assertParameters(d, getattr(real, d.name))
                    elif d.name == "__init__" and getattr(real, "__text_signature__", None):
                        self.assertParameters(d, real)

    def assertParameters(self, node, real):  # pylint: disable=invalid-name
        """The stub's parameters are real's, in order and kind; real has a docstring."""
        given = node.args
        kinds = [(getattr(given, "posonlyargs", []), "POSITIONAL_ONLY"),
                 (given.args, "POSITIONAL_OR_KEYWORD"), ([given.vararg], "VAR_POSITIONAL"),
                 (given.kwonlyargs, "KEYWORD_ONLY"), ([given.kwarg], "VAR_KEYWORD")]
        stub = [(a.arg, kind) for args, kind in kinds for a in args if a and a.arg != "self"]
        actual = [(n, p.kind.name) for n, p in inspect.signature(real).parameters.items()
                  if n != "self"]
        self.assertEqual(stub, actual, real)
        self.assertTrue(real.__doc__, real)


def exported_symbols(path):
    nm = subprocess.check_output([os.environ.get("NM", "nm"), "-D", "--defined-only",
                                  "--format=posix", path]).decode()
    names = set(line.split()[0] for line in nm.splitlines() if line.strip())
    return sorted(n for n in names if n not in ("_init", "_fini", "__bss_start", "_edata", "_end")
                  and not n.startswith(("__odr_asan", "__asan", "__ubsan", "__sanitizer",
                                        "__lsan", "__tsan")))


class Documentation(unittest.TestCase):
    @unittest.skipIf(S.PY3, "the reference's sessions are Python 2.7 sessions")
    def test_api_reference_examples_print_what_they_show(self):
        import doctest
        import re
        path = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "api.md")
        blocks = re.findall(r"```pycon\n(.*?)```", open(path).read(), re.S)
        runner = doctest.DocTestRunner()
        for i, block in enumerate(blocks):
            runner.run(doctest.DocTestParser().get_doctest(block, {"ov": P}, "api.md block %d" % i,
                                                           path, 0))
        self.assertEqual((runner.failures, len(blocks) > 30), (0, True))


class CInterface(unittest.TestCase):
    """What another compiled module sees: the exports, driven from the test-only module."""

    def test_exports_exactly_the_interface(self):
        namespace = "_ZN7Tessark13PyOvAttribute2v1"
        self.assertEqual(exported_symbols(P.__file__), sorted([
            S.py("initPyOvAttribute", "PyInit_PyOvAttribute"),
            namespace + "21AttributeFromPyObjectEP7_object",
            namespace + "24PyAttributeFromAttributeERKNS_8internal11OvAttribute9AttributeE",
            namespace + "30PyConstVectorFromDataAttributeERKNS_8internal11OvAttribute"
            "13DataAttributeEf", namespace + "25_tessark_dummy_dll_exportE"]))
        self.assertEqual(testext.dummy_export(), 0)

    def test_wrapping_and_unwrapping(self):
        kinds = [P.NullAttribute, P.IntAttribute, P.FloatAttribute, P.DoubleAttribute,
                 P.StringAttribute, P.GroupAttribute]
        self.assertEqual([type(testext.wrap(tag)) for tag in range(6)], kinds)
        none_count = sys.getrefcount(None)
        self.assertEqual([testext.wrap(tag) for tag in (-1, 6, 1000)], [None] * 3)
        self.assertEqual(sys.getrefcount(None), none_count)
        value = S.subclass(P.IntAttribute)([1, 2])
        rewrapped = testext.rewrap(value)
        self.assertIs(type(rewrapped), P.IntAttribute)  # the module's own type, not a subclass
        self.assertEqual((rewrapped, testext.unwrap(value)), (value, (1, False)))
        for other in [5, None, P.GroupBuilder(), value.getData(), S.ClassLiar(P.IntAttribute)] + \
                S.empty_objects():
            self.assertEqual((testext.unwrap(other), testext.rewrap(other)), ((-1, False), None))
        vector = testext.const_vector(P.FloatAttribute({0.0: [1.5], 1.0: [2.5]}), 0.8)
        self.assertEqual((type(vector), list(vector)), (P.ConstVector, [2.5]))
        empty = testext.const_vector(P.GroupAttribute(), 0.0)
        self.assertEqual((len(empty), empty.toOvAttr()), (0, None))
        self.assertRaises(IndexError, lambda: empty[0])

    def test_types_are_readied_for_a_caller_that_never_imported_the_module(self):
        script = ("import sys, _ovattr_testext as t\n"
                  "assert type(t.wrap(5)).__name__ == 'GroupAttribute'\n"
                  "assert repr(t.const_vector(5, 0.0)) == '[]'\n"
                  "assert 'PyOvAttribute' in sys.modules\n")
        env = dict(os.environ, OVATTR_TESTEXT_NO_IMPORT="1")
        self.assertEqual(subprocess.call([sys.executable, "-c", script], env=env), 0)

    def test_a_failed_registration_drops_its_reference(self):
        value = object()
        before = sys.getrefcount(value)
        self.assertFalse(testext.add_to_module(5, value))
        self.assertTrue(testext.add_to_module(types.ModuleType("m"), value))
        self.assertEqual(sys.getrefcount(value), before)


if __name__ == "__main__":
    unittest.main()
