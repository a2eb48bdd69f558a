#pragma once

// What the program's screens share: a form built from one top-level skin
// node that rebuilds itself when the skin or the language is reloaded, looks
// its elements up by name (a missing one is a skin error), handles its
// buttons, and puts itself on and takes itself off the screen stack.

#include "skin/Properties.h"
#include "skin/SkinErrors.h"
#include "widgets/ButtonElement.h"
#include "widgets/Form.h"
#include "widgets/Menu.h"

namespace qv {

class ScreenForm : public Form, public SkinListener, public ButtonHandler {
public:
    ScreenForm(PropertiesImpl& store, WString node_name);
    ~ScreenForm() override;

    void on_skin_reload(PropertiesImpl& store) override;
    // Keys go to the elements first; the back key then closes the screen.
    bool on_key(KeyInput const& key) override;

    // Onto the stack (when the program has one) and shown.
    void open(bool modal = false);
    void close();
    bool is_open();

    PropertiesImpl& store() { return m_store; }
    WString const& node_name() const { return m_node_name; }

protected:
    // Builds the form from its node, then lets the screen find its parts.
    // Throws NodeNotFoundInSkin when the skin has no such node.
    void build();
    virtual void on_built() = 0;
    // The back key when no element took it; closing by default.
    virtual bool on_back()
    {
        close();
        return true;
    }

    Element& require(WStringView id);
    template<typename T>
    T& require(WStringView id)
    {
        auto* element = dynamic_cast<T*>(&require(id));
        if (!element)
            throw NodeNotFound(m_node_name, WString(id));
        return *element;
    }
    // A button found and bound with this screen as its handler.
    ButtonElement& require_button(WStringView id);

    WString text(WStringView key) const { return m_store.text(WString(key)); }

private:
    PropertiesImpl& m_store;
    WString m_node_name;
};

// Shows a text in a label or text element.
void show_text(Element& element, WStringView text);

// A menu row; an empty text shows the language's text for the id.
MenuItem menu_item(WStringView id, WStringView style = {}, WStringView text = {});

}
