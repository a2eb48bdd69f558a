#include "widgets/Menu.h"

#include "widgets/ScreenHost.h"
#include "skin/SkinErrors.h"

namespace qv {

namespace {

constexpr char16_t const* kRowButtons[] = { u"About", u"Help", u"Minimize", u"Exit" };

void show_exactly_when(Element* element, bool flag)
{
    if (!element)
        return;
    element->set_observer(nullptr);
    element->set_visible(flag);
}

}

void MenuRow::bind(VirtualList&, bool, bool)
{
    auto const& items = m_menu.items();
    PropertiesImpl const* store = m_menu.store();
    if (!store || index() < 0 || index() >= static_cast<std::int32_t>(items.size()))
        return;
    MenuItem const& item = items[static_cast<std::size_t>(index())];
    m_template = item.style.empty() ? m_menu.default_template() : item.style;
    if (!item.enabled)
        m_template += u"Disabled";
    if (!load_form(*store, m_template))
        throw NodeNotFoundInSkin(m_template);
    if (item.id != kFourButtonsItem)
        deliver_text(u"#text", m_menu.item_text(item));
    show_exactly_when(find_child(u"separator"), item.separator);
    show_exactly_when(find_child(u"checked"), item.checked);
    for (auto const* button : kRowButtons)
        bind_child(button, this);
}

bool MenuRow::on_key(KeyInput const& key)
{
    if ((key.key == Key::Backspace || key.key == Key::Esc) && key.down) {
        m_menu.close_later();
        return true;
    }
    return Form::on_key(key);
}

bool MenuRow::on_click(Element& source, Point)
{
    // A button opens the menu of its name, as an item of that id would.
    m_menu.choose_later(source.id());
    return true;
}

MenuScreen::~MenuScreen()
{
    if (m_open)
        if (auto* app = ScreenHost::instance())
            app->remove_screen(&screen());
    // The rows refer back to this menu; they go before its members do.
    if (m_list)
        m_list->set_provider(nullptr, 0);
}

void MenuScreen::bind(PropertiesImpl const& store, WStringView node_name)
{
    m_store = &store;
    m_node_name = WString(node_name);
    m_panel = nullptr;
    m_caption = nullptr;
    m_list = nullptr;
    if (!load_form(store, node_name))
        throw NodeNotFoundInSkin(WString(node_name));
    m_panel = find_child(u"panel");
    if (!m_panel)
        throw NodeNotFound(id(), u"panel");
    m_caption = find_child(u"caption");
    m_list = dynamic_cast<VirtualList*>(find_child(u"vlist"));
    if (!m_list)
        throw NodeNotFound(id(), u"vlist");
    m_panel->set_observer(nullptr);
    if (m_caption)
        m_caption->set_observer(nullptr);
    m_list->set_observer(nullptr);
    m_list->set_provider(this, static_cast<std::int32_t>(m_items.size()));
    // The rows take the keys: up and down among them, Enter picks one.
    enable_keyboard_focus();
    set_focus(m_list);
}

WString MenuScreen::item_text(MenuItem const& item) const
{
    if (!item.text.empty() || !m_store)
        return item.text;
    return m_store->text(item.id);
}

void MenuScreen::show_menu(WStringView name, WStringView caption, bool reopen)
{
    if (!m_list)
        return;
    // The arguments may point into the item list this call replaces.
    WString const menu_name(name);
    WString caption_text = caption.empty() && m_store ? m_store->text(menu_name) : WString(caption);
    std::vector<MenuItem> items;
    if (m_source)
        m_source->get_items(*this, menu_name, caption_text, items);

    bool same = m_open && !reopen && items.size() == m_items.size();
    for (std::size_t i = 0; same && i < items.size(); ++i)
        same = items[i].id == m_items[i].id;
    m_items = std::move(items);
    m_name = menu_name;
    m_caption_text = caption_text;
    if (m_caption)
        m_caption->deliver_text(m_caption->id(), m_caption_text);

    if (same) {
        for (std::size_t i = 0; i < m_items.size(); ++i)
            m_list->rebind_item(static_cast<std::int32_t>(i));
        return;
    }
    m_list->set_provider(this, static_cast<std::int32_t>(m_items.size()));
    // Each menu opens on its first row.
    m_list->set_focus_index(0);
    set_focus(m_list);
    if (m_items.empty()) {
        close();
        return;
    }
    if (!m_open) {
        m_open = true;
        m_pushed_modal = !reopen;
        if (auto* app = ScreenHost::instance())
            app->push_screen(&screen(), m_pushed_modal);
        else
            set_visible(true);
    }
    m_panel->show(true);
}

void MenuScreen::close()
{
    m_pending_choice.reset();
    m_pending_close = false;
    bool const was_open = m_open;
    m_open = false;
    if (auto* app = ScreenHost::instance())
        app->remove_screen(&screen());
    else if (was_open)
        set_visible(false);
    // Hidden, so that the next opening plays the panel's animation again.
    if (m_panel)
        m_panel->set_visible(false);
}

void MenuScreen::on_item_clicked(VirtualList&, std::int32_t index)
{
    if (index < 0 || index >= static_cast<std::int32_t>(m_items.size()))
        return;
    MenuItem const item = m_items[static_cast<std::size_t>(index)];
    if (!item.enabled)
        return;
    show_menu(item.id, item.text, false);
}

ListItem* MenuScreen::create_item(VirtualList&, std::int32_t index)
{
    if (index < 0 || index >= static_cast<std::int32_t>(m_items.size()))
        return nullptr;
    return new MenuRow(*this);
}

void MenuScreen::run_pending()
{
    if (m_pending_close) {
        close();
        return;
    }
    if (m_pending_choice) {
        WString const id = std::move(*m_pending_choice);
        m_pending_choice.reset();
        show_menu(id, WString(), false);
    }
}

bool MenuScreen::on_pointer_button(PointerEvent const& event)
{
    bool const handled = Form::on_pointer_button(event);
    run_pending();
    return handled;
}

bool MenuScreen::on_key(KeyInput const& key)
{
    bool const handled = Form::on_key(key);
    run_pending();
    if (handled)
        return true;
    // Reached when no row is left to take it; the menu closes all the same.
    if (key.down && (key.key == Key::Backspace || key.key == Key::Esc)) {
        close();
        return true;
    }
    return false;
}

}
