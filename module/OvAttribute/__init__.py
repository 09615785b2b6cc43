"""OvAttribute: the attribute types of PyOvAttribute under the package name that the Python
text written by writePython uses, so that such text reads back:

    import OvAttribute
    text = ...  # from attribute.writePython(some_file)
    copy = eval(text, {'OvAttribute': OvAttribute})
    assert copy == attribute

Only names are re-exported; the objects are the module's own, so an attribute read back this
way is of exactly the same type as the one written.
"""

from PyOvAttribute import (Attribute, ConstVector, DataAttribute, DoubleAttribute,
                           FloatAttribute, GroupAttribute, GroupBuilder, IntAttribute,
                           NullAttribute, StringAttribute)
from PyOvAttribute import (GroupBuilderBuildAndFlush, GroupBuilderBuildAndRetain,
                           GroupBuilderModeNormal, GroupBuilderModeStrict)
from PyOvAttribute import DelimiterDecode, DelimiterEncode, Util

__all__ = [
    'Attribute', 'ConstVector', 'DataAttribute', 'DoubleAttribute', 'FloatAttribute',
    'GroupAttribute', 'GroupBuilder', 'IntAttribute', 'NullAttribute', 'StringAttribute',
    'GroupBuilderBuildAndFlush', 'GroupBuilderBuildAndRetain', 'GroupBuilderModeNormal',
    'GroupBuilderModeStrict', 'DelimiterDecode', 'DelimiterEncode', 'Util',
]
