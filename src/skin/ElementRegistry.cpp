#include "skin/ElementRegistry.h"
#include "skin/SkinErrors.h"

#include <map>

namespace qv {

namespace {

struct ToolkitType {
    ElementFactory factory;
    int holders { 0 };
};

// std::less<> lets a WStringView look a name up without a copy.
std::map<WString, ElementFactory, std::less<>>& by_name()
{
    static std::map<WString, ElementFactory, std::less<>> factories;
    return factories;
}

std::map<WString, ToolkitType, std::less<>>& toolkit()
{
    static std::map<WString, ToolkitType, std::less<>> types;
    return types;
}

ElementFactory const* find_factory(WStringView name)
{
    if (auto found = by_name().find(name); found != by_name().end())
        return &found->second;
    if (auto found = toolkit().find(name); found != toolkit().end())
        return &found->second.factory;
    return nullptr;
}

}

void register_element_type(WString const& name, ElementFactory factory)
{
    if (!by_name().emplace(name, std::move(factory)).second)
        throw NodeAlreadyRegistered(name);
}

std::size_t unregister_element_type(WString const& name) { return by_name().erase(name); }

void add_toolkit_element_type(WString const& name, ElementFactory factory)
{
    auto& type = toolkit()[name];
    if (type.holders++ == 0)
        type.factory = std::move(factory);
}

bool remove_toolkit_element_type(WString const& name)
{
    auto found = toolkit().find(name);
    if (found == toolkit().end())
        return false;
    if (--found->second.holders == 0)
        toolkit().erase(found);
    return true;
}

bool is_element_type_known(WStringView name) { return find_factory(name) != nullptr; }

Element* create_element(WString const& type, Element* parent)
{
    ElementFactory const* factory = find_factory(type);
    if (!factory)
        throw NodeNotRegistered(type);
    return (*factory)(parent);
}

}
