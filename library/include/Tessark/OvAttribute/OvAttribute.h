// The attribute library: include this one header.
#pragma once

#include "Tessark/OvAttribute/Attribute.h"
#include "Tessark/OvAttribute/BinaryReader.h"
#include "Tessark/OvAttribute/ConstVector.h"
#include "Tessark/OvAttribute/DataAttribute.h"
#include "Tessark/OvAttribute/DataKinds.h"
#include "Tessark/OvAttribute/GroupAttribute.h"
#include "Tessark/OvAttribute/GroupBuilder.h"
#include "Tessark/OvAttribute/Util.h"
