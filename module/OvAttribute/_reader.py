"""readPython: the attribute that text written by writePython describes, read without running
the text.

writePython writes string values as they are, unescaped, so the text of an attribute from a
file someone else made can hold any Python code; eval() would run it. readPython parses the
text and accepts only the calls writePython writes, with literal arguments:

    OvAttribute.IntAttribute({0.0: [1, 2]}, 1)            (also Float-, Double-, StringAttribute)
    OvAttribute.GroupAttribute([('name', <attribute text>), ], True)

Numbers may be negative; nan and inf stand for themselves, as in the text writePython writes
on Python 2.7, and so do float('nan') and float('inf'), as it writes them on Python 3. Anything
else (another name or call, an operator, a keyword argument, a comprehension, a lambda) is
refused with ValueError, and nothing of the text is ever evaluated.
"""

import ast
import sys

import PyOvAttribute

_DATA_KINDS = ("IntAttribute", "FloatAttribute", "DoubleAttribute", "StringAttribute")
_NAMES = {"nan": float("nan"), "inf": float("inf"), "True": True, "False": False}
_TEXT_TYPES = (str, bytes) if sys.version_info[0] >= 3 else (str, unicode)  # noqa: F821
_NUMBER_TYPES = (int, float) if sys.version_info[0] >= 3 else (int, long, float)  # noqa: F821


class _Refused(Exception):
    pass


# The node types of constants: ast.Constant from Python 3.8 (the older names, deprecated since,
# are gone from 3.14 and warn when touched from 3.12), ast.Num and ast.Str on 2.7, whose True
# and False are names.
if sys.version_info >= (3, 8):
    _CONSTANTS = {ast.Constant: "value"}
else:
    _CONSTANTS = {ast.Num: "n", ast.Str: "s"}


def _non_finite(node):
    """The value of float('nan') or float('inf'), or None for any other node."""
    if isinstance(node, ast.Call) and isinstance(node.func, ast.Name) and \
            node.func.id == "float" and len(node.args) == 1 and not node.keywords:
        text = _literal(node.args[0])
        if isinstance(text, _TEXT_TYPES) and text in ("nan", "inf"):
            return float(text)
    return None


def _literal(node):
    """The value of a literal of writePython's text: a number, a string, nan, inf (also as
    float('nan') and float('inf')), True, False, a list or a dictionary of them."""
    if type(node) in _CONSTANTS:
        value = getattr(node, _CONSTANTS[type(node)])
    elif isinstance(node, ast.Name) and node.id in _NAMES:
        return _NAMES[node.id]
    elif _non_finite(node) is not None:
        return _non_finite(node)
    elif isinstance(node, ast.UnaryOp) and isinstance(node.op, (ast.USub, ast.UAdd)):
        value = _literal(node.operand)
        if isinstance(value, bool) or not isinstance(value, _NUMBER_TYPES):
            raise _Refused("a sign before something that is not a number")
        return -value if isinstance(node.op, ast.USub) else value
    elif isinstance(node, ast.List):
        return [_literal(item) for item in node.elts]
    elif isinstance(node, ast.Dict):
        return dict((_literal(k), _literal(v)) for k, v in zip(node.keys, node.values))
    else:
        raise _Refused("%s where a literal belongs" % type(node).__name__)
    if not isinstance(value, _NUMBER_TYPES + _TEXT_TYPES + (bool,)):
        raise _Refused("a literal of type %s" % type(value).__name__)
    return value


def _kind_of_call(node):
    """The type name of an OvAttribute.<type>(...) call with positional arguments only."""
    if not (isinstance(node, ast.Call) and isinstance(node.func, ast.Attribute) and
            isinstance(node.func.value, ast.Name) and node.func.value.id == "OvAttribute"):
        raise _Refused("%s where an OvAttribute call belongs" % type(node).__name__)
    if node.keywords or getattr(node, "starargs", None) or getattr(node, "kwargs", None) or \
            any(type(arg).__name__ == "Starred" for arg in node.args):
        raise _Refused("an OvAttribute call with keyword or star arguments")
    return node.func.attr


def _attribute(node):
    kind = _kind_of_call(node)
    if kind in _DATA_KINDS and len(node.args) == 2:
        samples, tuple_size = _literal(node.args[0]), _literal(node.args[1])
        if not isinstance(samples, dict) or isinstance(tuple_size, (bool, float)):
            raise _Refused("%s takes a dictionary of samples and a tuple size" % kind)
        return getattr(PyOvAttribute, kind)(samples, tuple_size)
    if kind == "GroupAttribute" and len(node.args) == 2:
        children, inherit = node.args
        if not isinstance(children, ast.List):
            raise _Refused("GroupAttribute takes a list of (name, attribute) pairs")
        pairs = []
        for child in children.elts:
            if not (isinstance(child, ast.Tuple) and len(child.elts) == 2):
                raise _Refused("a child of a GroupAttribute that is not a (name, attribute) pair")
            name = _literal(child.elts[0])
            if not isinstance(name, _TEXT_TYPES):
                raise _Refused("a child name that is not a string")
            pairs.append((name, _attribute(child.elts[1])))
        flag = _literal(inherit)
        if not isinstance(flag, bool):
            raise _Refused("a group-inherit flag that is not True or False")
        return PyOvAttribute.GroupAttribute(pairs, flag)
    raise _Refused("OvAttribute.%s with %d arguments" % (kind, len(node.args)))


def readPython(text):
    """The attribute that `text` (as written by writePython) describes. Raises ValueError for
    any text that is not such a call with literal arguments, or whose values the attribute
    types refuse; the text is parsed, never run."""
    if not isinstance(text, _TEXT_TYPES):
        raise ValueError("readPython takes text, not %s" % type(text).__name__)
    try:
        tree = ast.parse(text.strip(), mode="eval")
        return _attribute(tree.body)
    except _Refused as refused:
        raise ValueError("not attribute text written by writePython: %s" % refused)
    except (SyntaxError, TypeError, ValueError, OverflowError, MemoryError, RuntimeError) as error:
        # RuntimeError: nesting past the interpreter's recursion limit, as eval() would meet.
        raise ValueError("not attribute text written by writePython: %s: %s" % (
            type(error).__name__, error))
