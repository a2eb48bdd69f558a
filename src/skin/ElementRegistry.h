#pragma once

// Element types by name: a skin node's "type" picks the class of the element
// built for it. There are two tiers. The toolkit's own types come from one
// table (widgets/WidgetTypes) that the shell and the tests put in place
// while they need it; several holders may do so at once, and a type stays
// until the last of them takes it back. A type registered by name comes on
// top: it stands in for a toolkit type of the same name until it is
// unregistered, so that a caller may put a class of its own behind a
// toolkit name for a while.
//
// Threads: the user-interface thread and the splash screen's loader, which
// builds the first screen while the splash is shown; nothing registers or
// unregisters a type while a loader runs.
// Failures: registering a name already registered by name throws
// NodeAlreadyRegistered; creating an element of a type nobody provides
// throws NodeNotRegistered.

#include "core/WString.h"

#include <cstddef>
#include <functional>

namespace qv {

class Element;

// Makes an element that has already joined `parent`'s children, which own it.
using ElementFactory = std::function<Element*(Element* parent)>;

// Throws NodeAlreadyRegistered when the name is registered by name already;
// a toolkit type of that name is no obstacle and comes back on unregistering.
void register_element_type(WString const& name, ElementFactory factory);
// The number of registrations by name removed: 0 or 1. The toolkit's types
// are not touched.
std::size_t unregister_element_type(WString const& name);

// A toolkit type, one more holder of it. The first holder's factory is kept.
void add_toolkit_element_type(WString const& name, ElementFactory factory);
// One holder fewer; the type goes with the last. False when nobody held it.
bool remove_toolkit_element_type(WString const& name);

// True when an element of the type can be created.
bool is_element_type_known(WStringView name);
// Throws NodeNotRegistered for a name with no factory.
Element* create_element(WString const& type, Element* parent);

}
