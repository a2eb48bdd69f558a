#pragma once

// Element types by name: a skin node's "type" picks the class of the element
// built for it. Used from the user-interface thread only.

#include "core/WString.h"

#include <cstddef>
#include <functional>

namespace qv {

class Element;

// Makes an element that has already joined `parent`'s children, which own it.
using ElementFactory = std::function<Element*(Element* parent)>;

// Throws NodeAlreadyRegistered when the name is taken.
void register_element_type(WString const& name, ElementFactory factory);
// The number of entries removed: 0 or 1.
std::size_t unregister_element_type(WString const& name);
// Throws NodeNotRegistered for a name with no factory.
Element* create_element(WString const& type, Element* parent);

}
