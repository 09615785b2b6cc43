"""The module's registered surface: types, their names, flags, layout and docstrings, the
methods of each type with their calling conventions, the constants and the Util submodule."""

import sys
import types
import unittest

import PyOvAttribute
import _ovattr_testext as testext

# Flags of the 2.7 extension default, and the same with subclassing allowed.
TPFLAGS_DEFAULT = 0x201eb
TPFLAGS_BASETYPE = 1 << 10
# Set by the interpreter on readied types; not part of what the module chooses.
TPFLAGS_READY = 1 << 12
TPFLAGS_HAVE_VERSION_TAG = 1 << 18
TPFLAGS_VALID_VERSION_TAG = 1 << 19
TPFLAGS_RUNTIME = TPFLAGS_READY | TPFLAGS_HAVE_VERSION_TAG | TPFLAGS_VALID_VERSION_TAG

# name: (base name, docstring, may be subclassed)
TYPES = {
    "Attribute": ("object", "TESSARK attribute", True),
    "DataAttribute": ("Attribute", "TESSARK data attribute", True),
    "IntAttribute": ("DataAttribute", "TESSARK IntAttribute ", True),
    "FloatAttribute": ("DataAttribute", "TESSARK FloatAttribute ", True),
    "DoubleAttribute": ("DataAttribute", "TESSARK DoubleAttribute ", True),
    "StringAttribute": ("DataAttribute", "TESSARK StringAttribute ", True),
    "GroupAttribute": ("Attribute", "TESSARK GroupAttribute ", True),
    "NullAttribute": ("Attribute", "TESSARK NullAttribute ", True),
    "ConstVector": ("object", "TESSARK ConstVector ", False),
    "GroupBuilder": ("object", "TESSARK GroupBuilder", True),
}

ATTRIBUTE_TYPES = ["Attribute", "DataAttribute", "IntAttribute", "FloatAttribute",
                   "DoubleAttribute", "StringAttribute", "GroupAttribute", "NullAttribute"]

# Calling conventions: N no arguments, V positional arguments, VK positional and keyword,
# VS positional on the type (static).
N, V, VK, VS = "noargs", "varargs", "varargs|keywords", "varargs|static"
TYPED_METHODS = {"getData": N, "getSamples": N, "getNearestSample": V, "getValue": VK}
METHODS = {
    "Attribute": {"getXML": N, "parseXML": VS, "parseBinary": VS, "getBinary": N, "getHash": N,
                  "getHash64": N, "writePython": V},
    "DataAttribute": {"getTupleSize": N, "getNumberOfValues": N, "getNumberOfTuples": N,
                      "getNumberOfTimeSamples": N, "getSampleTime": V, "getSampleTimes": N,
                      "getBoundingSampleTimes": V},
    "IntAttribute": TYPED_METHODS,
    "FloatAttribute": TYPED_METHODS,
    "DoubleAttribute": TYPED_METHODS,
    "StringAttribute": TYPED_METHODS,
    "GroupAttribute": {"getNumberOfChildren": N, "getChildName": V, "getChildByIndex": V,
                       "getChildByName": V, "childList": N, "getGroupInherit": N,
                       "writePython": V},
    "NullAttribute": {},
    "ConstVector": {"count": V, "index": V, "toOvAttr": N},
    "GroupBuilder": {"set": V, "setWithUniqueName": V, "delete": V, "update": V,
                     "deepUpdate": V, "reserve": V, "build": V, "setGroupInherit": V,
                     "sort": N},
}


def own_public_names(cls):
    return set(name for name in cls.__dict__ if not name.startswith("__"))


def instance_without_value(name):
    """An instance whose C++ state was never set up; conventions are checked before any method
    body looks at that state."""
    if name == "ConstVector":
        return testext.const_vector(PyOvAttribute.NullAttribute(), 0.0)  # the empty vector
    cls = getattr(PyOvAttribute, name)
    return cls.__new__(cls)


class ModuleTest(unittest.TestCase):

    def test_module_docstring(self):
        self.assertEqual(PyOvAttribute.__doc__, "Python OvAttribute Bindings")

    def test_public_names(self):
        expected = set(TYPES) | set([
            "Util", "DelimiterEncode", "DelimiterDecode", "GroupBuilderBuildAndFlush",
            "GroupBuilderBuildAndRetain", "GroupBuilderModeNormal", "GroupBuilderModeStrict"])
        public = set(n for n in dir(PyOvAttribute) if not n.startswith("__"))
        self.assertEqual(public, expected)

    def test_types_are_registered_under_their_names(self):
        for name in TYPES:
            self.assertIs(type(getattr(PyOvAttribute, name)), type, name)

    def test_constants(self):
        self.assertEqual(PyOvAttribute.GroupBuilderBuildAndFlush, 0)
        self.assertEqual(PyOvAttribute.GroupBuilderBuildAndRetain, 1)
        self.assertEqual(PyOvAttribute.GroupBuilderModeNormal, 0)
        self.assertEqual(PyOvAttribute.GroupBuilderModeStrict, 1)
        for name in ("GroupBuilderBuildAndFlush", "GroupBuilderBuildAndRetain",
                     "GroupBuilderModeNormal", "GroupBuilderModeStrict"):
            self.assertIs(type(getattr(PyOvAttribute, name)), int, name)

    def test_module_functions(self):
        for name in ("DelimiterEncode", "DelimiterDecode"):
            fn = getattr(PyOvAttribute, name)
            self.assertIsInstance(fn, types.BuiltinFunctionType)
            self.assertEqual(fn.__doc__, "")
            with self.assertRaisesRegexp(TypeError, r"^%s\(\) takes no keyword arguments$" % name):
                fn(text="x")

    def test_a_failed_addition_leaves_no_reference_behind(self):
        # The entry point adds every name through AddToModule, which does not leak the value
        # when the interpreter refuses it (PyModule_AddObject alone does).
        value = object()
        before = sys.getrefcount(value)
        self.assertFalse(testext.add_to_module(42, value))
        self.assertEqual(sys.getrefcount(value), before)
        target = types.ModuleType("target")
        self.assertTrue(testext.add_to_module(target, value))
        self.assertIs(target.x, value)

    def test_second_import_gives_the_same_module(self):
        import PyOvAttribute as again  # pylint: disable=reimported
        self.assertIs(again, PyOvAttribute)
        self.assertIs(again.Util, PyOvAttribute.Util)


class UtilSubmoduleTest(unittest.TestCase):

    def test_is_a_module_named_after_its_parent(self):
        util = PyOvAttribute.Util
        self.assertIsInstance(util, types.ModuleType)
        self.assertEqual(util.__name__, PyOvAttribute.__name__ + ".Util")
        self.assertEqual(util.__name__, "PyOvAttribute.Util")

    def test_docstring(self):
        self.assertEqual(PyOvAttribute.Util.__doc__, "Utilities")

    def test_functions(self):
        names = set(n for n in dir(PyOvAttribute.Util) if not n.startswith("__"))
        self.assertEqual(names, set(["RemoveTimeSamplesIfAllSame",
                                     "RemoveTimeSamplesUnneededForShutter",
                                     "ResampleAttrWithInterp"]))
        for name in names:
            fn = getattr(PyOvAttribute.Util, name)
            self.assertIsInstance(fn, types.BuiltinFunctionType)
            self.assertEqual(fn.__doc__, "")
            with self.assertRaisesRegexp(TypeError, r"^%s\(\) takes no keyword arguments$" % name):
                fn(attr=None)


class TypeObjectTest(unittest.TestCase):

    def test_names(self):
        for name in TYPES:
            cls = getattr(PyOvAttribute, name)
            self.assertEqual(cls.__name__, name)
            self.assertEqual(cls.__module__, "PyOvAttribute")
            self.assertEqual(repr(cls), "<type 'PyOvAttribute.%s'>" % name)

    def test_bases(self):
        for name, (base, _, _) in TYPES.items():
            cls = getattr(PyOvAttribute, name)
            expected = object if base == "object" else getattr(PyOvAttribute, base)
            self.assertEqual(cls.__bases__, (expected,), name)

    def test_docstrings_exactly(self):
        for name, (_, doc, _) in TYPES.items():
            self.assertEqual(getattr(PyOvAttribute, name).__doc__, doc, name)
        # The blank is the module's own: pinned so that nobody trims it.
        self.assertTrue(PyOvAttribute.IntAttribute.__doc__.endswith(" "))
        self.assertFalse(PyOvAttribute.Attribute.__doc__.endswith(" "))

    def test_flags(self):
        for name, (_, _, subclassable) in TYPES.items():
            flags = getattr(PyOvAttribute, name).__flags__ & ~TPFLAGS_RUNTIME
            expected = TPFLAGS_DEFAULT | (TPFLAGS_BASETYPE if subclassable else 0)
            self.assertEqual("%#x" % flags, "%#x" % expected, name)

    def test_subclassing_follows_the_flags(self):
        for name, (_, _, subclassable) in TYPES.items():
            cls = getattr(PyOvAttribute, name)
            if subclassable:
                sub = type("Sub" + name, (cls,), {})
                self.assertTrue(issubclass(sub, cls))
            else:
                with self.assertRaisesRegexp(TypeError, "is not an acceptable base type"):
                    type("Sub" + name, (cls,), {})

    def test_layout(self):
        pointer = 8
        header = object.__basicsize__
        for name in TYPES:
            cls = getattr(PyOvAttribute, name)
            self.assertEqual(cls.__itemsize__, 0, name)
            self.assertEqual(cls.__dictoffset__, 0, name)
            self.assertEqual(cls.__weakrefoffset__, 0, name)
            self.assertNotIn("__dict__", cls.__dict__, name)
            self.assertNotIn("__weakref__", cls.__dict__, name)
        for name in ATTRIBUTE_TYPES + ["GroupBuilder"]:
            self.assertEqual(getattr(PyOvAttribute, name).__basicsize__, header + pointer, name)
        self.assertEqual(PyOvAttribute.ConstVector.__basicsize__, header + 4 * pointer)

    def test_no_garbage_collection_support(self):
        import gc
        for name in ATTRIBUTE_TYPES:
            if name in ("Attribute", "DataAttribute"):
                continue
            self.assertFalse(gc.is_tracked(instance_without_value(name)), name)

    def test_attribute_types_are_created_generically(self):
        for name in ATTRIBUTE_TYPES + ["GroupBuilder"]:
            cls = getattr(PyOvAttribute, name)
            self.assertIs(type(cls.__new__(cls)), cls, name)

    def test_const_vector_cannot_be_created_from_python(self):
        with self.assertRaisesRegexp(TypeError,
                                     r"^cannot create 'PyOvAttribute.ConstVector' instances$"):
            PyOvAttribute.ConstVector()

    def test_attribute_types_share_slots_of_attribute(self):
        # Inherited: every attribute object hashes and compares by the attribute hash.
        null = PyOvAttribute.NullAttribute()
        self.assertEqual(hash(null), hash(PyOvAttribute.NullAttribute(1)))
        self.assertEqual(null, PyOvAttribute.NullAttribute())

    def test_default_repr(self):
        null = PyOvAttribute.NullAttribute()
        self.assertRegexpMatches(repr(null), r"^<PyOvAttribute\.NullAttribute object at 0x[0-9a-f]+>$")
        self.assertEqual(str(null), repr(null))


class MethodTableTest(unittest.TestCase):

    def test_own_methods_of_each_type(self):
        for name, methods in METHODS.items():
            cls = getattr(PyOvAttribute, name)
            self.assertEqual(own_public_names(cls), set(methods), name)

    def test_method_docstrings_are_empty(self):
        for name, methods in METHODS.items():
            cls = getattr(PyOvAttribute, name)
            for method in methods:
                self.assertEqual(getattr(cls, method).__doc__, "", "%s.%s" % (name, method))

    def test_methods_are_inherited_along_the_tree(self):
        attribute = set(METHODS["Attribute"])
        data = set(METHODS["DataAttribute"])
        for name in ("IntAttribute", "FloatAttribute", "DoubleAttribute", "StringAttribute"):
            cls = getattr(PyOvAttribute, name)
            for method in attribute | data | set(TYPED_METHODS):
                self.assertTrue(hasattr(cls, method), "%s.%s" % (name, method))
        for method in attribute:
            self.assertTrue(hasattr(PyOvAttribute.NullAttribute, method), method)
        self.assertIsNot(PyOvAttribute.GroupAttribute.__dict__["writePython"],
                         PyOvAttribute.Attribute.__dict__["writePython"])
        self.assertIs(PyOvAttribute.IntAttribute.writePython.__objclass__,
                      PyOvAttribute.Attribute)

    def test_static_methods(self):
        for method in ("parseXML", "parseBinary"):
            self.assertIsInstance(PyOvAttribute.Attribute.__dict__[method], staticmethod)
            # Reached through the type and through every subtype, without an instance.
            self.assertIsInstance(getattr(PyOvAttribute.Attribute, method),
                                  types.BuiltinFunctionType)
            self.assertIsInstance(getattr(PyOvAttribute.GroupAttribute, method),
                                  types.BuiltinFunctionType)

    def test_calling_conventions(self):
        for name, methods in METHODS.items():
            obj = instance_without_value(name)
            for method, convention in methods.items():
                bound = getattr(obj, method)
                label = "%s.%s" % (name, method)
                if convention == N:
                    with self.assertRaisesRegexp(
                            TypeError, r"^%s\(\) takes no arguments \(1 given\)$" % method):
                        bound(1)
                elif convention in (V, VS):
                    with self.assertRaisesRegexp(
                            TypeError, r"^%s\(\) takes no keyword arguments$" % method):
                        bound(x=1)
                else:
                    # Keywords reach the method, which then refuses the object without value.
                    try:
                        bound(defaultValue=1)
                    except TypeError as e:
                        self.assertNotIn("keyword", str(e), label)

    def test_static_methods_refuse_keywords_on_the_type(self):
        with self.assertRaisesRegexp(TypeError, r"^parseXML\(\) takes no keyword arguments$"):
            PyOvAttribute.Attribute.parseXML(text="")
        with self.assertRaisesRegexp(TypeError, r"^parseBinary\(\) takes no keyword arguments$"):
            PyOvAttribute.Attribute.parseBinary(data="")


if __name__ == "__main__":
    unittest.main()
