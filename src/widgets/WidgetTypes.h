#pragma once

// The element classes behind the skin's type names.

#include "core/WString.h"
#include "skin/ElementRegistry.h"

namespace qv {

// Empty for a type name whose class this toolkit does not provide yet.
ElementFactory widget_factory(WStringView type);

}
