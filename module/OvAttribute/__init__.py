"""OvAttribute: the attribute types of PyOvAttribute under the package name that the Python
text written by writePython uses, and readPython, which reads such text back:

    import OvAttribute
    text = ...  # from attribute.writePython(some_file)
    copy = OvAttribute.readPython(text)
    assert copy == attribute

readPython parses the text and accepts only what writePython writes, so text from elsewhere
cannot run code. Never eval() such text: writePython writes string values unescaped, and a
string value can end the literal and carry code.

Only names are re-exported; the objects are the module's own, so an attribute read back is of
exactly the same type as the one written.
"""

from PyOvAttribute import (Attribute, ConstVector, DataAttribute, DoubleAttribute,
                           FloatAttribute, GroupAttribute, GroupBuilder, IntAttribute,
                           NullAttribute, StringAttribute)
from PyOvAttribute import (GroupBuilderBuildAndFlush, GroupBuilderBuildAndRetain,
                           GroupBuilderModeNormal, GroupBuilderModeStrict)
from PyOvAttribute import DelimiterDecode, DelimiterEncode, Util

from OvAttribute._reader import readPython

__all__ = [
    'Attribute', 'ConstVector', 'DataAttribute', 'DoubleAttribute', 'FloatAttribute',
    'GroupAttribute', 'GroupBuilder', 'IntAttribute', 'NullAttribute', 'StringAttribute',
    'GroupBuilderBuildAndFlush', 'GroupBuilderBuildAndRetain', 'GroupBuilderModeNormal',
    'GroupBuilderModeStrict', 'DelimiterDecode', 'DelimiterEncode', 'Util', 'readPython',
]
