#pragma once

// The four errors of skin structure. They leave the building of the screen
// that raised them and are caught once, where the skin is put to use.

#include "core/WString.h"

#include <exception>

namespace qv {

class SkinError : public std::exception {
public:
    char const* what() const noexcept override { return m_what.c_str(); }
    WString const& message() const { return m_message; }

protected:
    explicit SkinError(WString message)
        : m_message(std::move(message))
        , m_what(to_utf8(m_message))
    {
    }

private:
    WString m_message;
    std::string m_what;
};

// A form asked for a top-level node the skin does not have.
class NodeNotFoundInSkin : public SkinError {
public:
    explicit NodeNotFoundInSkin(WString name)
        : SkinError(WString(u"node not found in skin: ").append(name))
        , m_name(std::move(name))
    {
    }
    WString const& name() const { return m_name; }

private:
    WString m_name;
};

// A container needs a descendant element with an id that none has.
class NodeNotFound : public SkinError {
public:
    NodeNotFound(WString container_id, WString child_id)
        : SkinError(WString(u"node ").append(child_id).append(u" not found in ").append(container_id))
        , m_container_id(std::move(container_id))
        , m_child_id(std::move(child_id))
    {
    }
    WString const& container_id() const { return m_container_id; }
    WString const& child_id() const { return m_child_id; }

private:
    WString m_container_id;
    WString m_child_id;
};

class NodeNotRegistered : public SkinError {
public:
    explicit NodeNotRegistered(WString type)
        : SkinError(WString(u"element type not registered: ").append(type))
        , m_type(std::move(type))
    {
    }
    WString const& type() const { return m_type; }

private:
    WString m_type;
};

class NodeAlreadyRegistered : public SkinError {
public:
    explicit NodeAlreadyRegistered(WString type)
        : SkinError(WString(u"element type already registered: ").append(type))
        , m_type(std::move(type))
    {
    }
    WString const& type() const { return m_type; }

private:
    WString m_type;
};

}
