#include "skin/ElementRegistry.h"
#include "skin/SkinErrors.h"

#include <map>

namespace qv {

namespace {

std::map<WString, ElementFactory>& registry()
{
    static std::map<WString, ElementFactory> factories;
    return factories;
}

}

void register_element_type(WString const& name, ElementFactory factory)
{
    if (!registry().emplace(name, std::move(factory)).second)
        throw NodeAlreadyRegistered(name);
}

std::size_t unregister_element_type(WString const& name) { return registry().erase(name); }

Element* create_element(WString const& type, Element* parent)
{
    auto found = registry().find(type);
    if (found == registry().end())
        throw NodeNotRegistered(type);
    return found->second(parent);
}

}
