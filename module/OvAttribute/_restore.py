"""How copies and pickles of PyOvAttribute objects come back.

An attribute, a GroupBuilder or a ConstVector reduces to one of these functions and its
arguments, so a pickle names them (OvAttribute._restore.attribute and so on) and loads wherever
PyOvAttribute and this package are installed. Their names and arguments are part of the pickle
format: keep them.
"""

import PyOvAttribute


def attribute(data):
    """The attribute whose binary form (getBinary) is `data`. A pickle whose data is cut short
    or altered raises the TypeError of Attribute.parseBinary."""
    return PyOvAttribute.Attribute.parseBinary(data)


def builder(mode, group):
    """A GroupBuilder of `mode` holding what `group` holds: its children and its inherit flag."""
    result = PyOvAttribute.GroupBuilder(mode)
    result.update(group)
    result.setGroupInherit(group.getGroupInherit())
    return result


def vector(values):
    """A ConstVector over the values of `values` (an attribute of one sample, as toOvAttr makes
    it), or an empty one for None."""
    if values is None:
        return PyOvAttribute.IntAttribute([]).getData()
    return values.getData()
