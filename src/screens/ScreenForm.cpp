#include "screens/ScreenForm.h"

#include "widgets/ScreenHost.h"

namespace qv {

ScreenForm::ScreenForm(PropertiesImpl& store, WString node_name)
    : m_store(store)
    , m_node_name(std::move(node_name))
{
    listen_to(store);
}

ScreenForm::~ScreenForm() { close(); }

void ScreenForm::on_skin_reload(PropertiesImpl&)
{
    bool const was_visible = visible();
    build();
    set_visible(was_visible);
}

bool ScreenForm::on_key(KeyInput const& key)
{
    if (Form::on_key(key))
        return true;
    if (key.down && (key.key == Key::Esc || key.key == Key::Backspace))
        return on_back();
    return false;
}

void ScreenForm::build()
{
    if (!load_form(m_store, m_node_name))
        throw NodeNotFoundInSkin(m_node_name);
    on_built();
}

void ScreenForm::open(bool modal)
{
    if (auto* application = ScreenHost::instance()) {
        application->remove_screen(&screen());
        application->push_screen(&screen(), modal);
    } else {
        set_visible(true);
    }
}

void ScreenForm::close()
{
    if (auto* application = ScreenHost::instance())
        application->remove_screen(&screen());
    else
        set_visible(false);
}

bool ScreenForm::is_open()
{
    if (auto* application = ScreenHost::instance())
        return application->has_screen(&screen());
    return visible();
}

Element& ScreenForm::require(WStringView id)
{
    auto* element = find_child(id);
    if (!element)
        throw NodeNotFound(m_node_name, WString(id));
    return *element;
}

ButtonElement& ScreenForm::require_button(WStringView id)
{
    auto& button = require<ButtonElement>(id);
    bind_child(id, this);
    return button;
}

void show_text(Element& element, WStringView text) { element.deliver_text(element.id(), text); }

MenuItem menu_item(WStringView id, WStringView style, WStringView text)
{
    MenuItem item;
    item.id = id;
    item.style = style;
    item.text = text;
    return item;
}

}
