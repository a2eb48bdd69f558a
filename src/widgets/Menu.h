#pragma once

// The menu panel: one screen shows every popup menu (main menu, language
// menu, sub-menus) as rows of a virtual list. Each row is built from a
// named skin template chosen by the item's style and flags. The owner
// supplies the items of each named menu; choosing an item opens the menu
// named by its id, and a menu without items closes the panel, so a source
// acts on a final choice (quit, switch language) while it fills that menu.

#include "core/WString.h"
#include "widgets/ButtonElement.h"
#include "widgets/Form.h"
#include "widgets/VirtualList.h"

#include <optional>
#include <vector>

namespace qv {

struct MenuItem {
    WString id;   // also names the sub-menu the item opens
    WString text; // empty: the language text of id
    WString extra; // carried for the source, unused by the menu
    WString style; // the row's skin template; empty: the menu's default
    bool enabled { true };
    bool separator { false };
    bool checked { false };
};

// A row whose template carries the four buttons instead of a text.
inline constexpr char16_t const* kFourButtonsItem = u"Magic4Buttons";

class MenuScreen;

class MenuSource {
public:
    virtual ~MenuSource() = default;
    // `caption` comes in as the caption the menu was opened with.
    virtual void get_items(MenuScreen& menu, WStringView name, WString& caption, std::vector<MenuItem>& items) = 0;
};

// One row of the menu, rebuilt from its template whenever it is bound.
class MenuRow : public ListItem, public ButtonHandler {
public:
    explicit MenuRow(MenuScreen& menu)
        : m_menu(menu)
    {
    }

    void bind(VirtualList& list, bool selected, bool fresh) override;
    bool on_key(KeyInput const& key) override;
    bool on_click(Element& source, Point position) override;

    // The template the row was last built from.
    WString const& template_name() const { return m_template; }

private:
    MenuScreen& m_menu;
    WString m_template;
};

class MenuScreen : public Form, public ListProvider {
public:
    MenuScreen() = default;
    ~MenuScreen() override;

    // Loads the node and finds "panel", "caption" (optional) and "vlist";
    // throws the skin errors when the node or a required child is missing.
    void bind(PropertiesImpl const& store, WStringView node_name);
    void set_source(MenuSource* source) { m_source = source; }
    void set_default_template(WString name) { m_default_template = std::move(name); }
    // `reopen` puts the panel on the stack as a plain screen instead of a
    // modal popup, and always rebuilds the rows.
    void show_menu(WStringView name, WStringView caption, bool reopen);
    void close();

    bool on_pointer_button(PointerEvent const& event) override;
    bool on_key(KeyInput const& key) override;

    void on_item_clicked(VirtualList& list, std::int32_t index) override;
    ListItem* create_item(VirtualList& list, std::int32_t index) override;

    std::vector<MenuItem> const& items() const { return m_items; }
    WString const& menu_name() const { return m_name; }
    WString const& caption_text() const { return m_caption_text; }
    WString const& default_template() const { return m_default_template; }
    bool is_open() const { return m_open; }
    Element* panel() const { return m_panel; }
    Element* caption() const { return m_caption; }
    VirtualList* list() const { return m_list; }
    PropertiesImpl const* store() const { return m_store; }
    // The text a row shows for an item.
    WString item_text(MenuItem const& item) const;

private:
    friend class MenuRow;
    // Rows ask for these while their own input is still being delivered;
    // the menu acts once that delivery has returned.
    void choose_later(WString id) { m_pending_choice = std::move(id); }
    void close_later() { m_pending_close = true; }
    void run_pending();

    PropertiesImpl const* m_store { nullptr };
    WString m_node_name;
    Element* m_panel { nullptr };
    Element* m_caption { nullptr };
    VirtualList* m_list { nullptr };
    std::vector<MenuItem> m_items;
    WString m_default_template { u"MenuElement" };
    MenuSource* m_source { nullptr };
    WString m_name;
    WString m_caption_text;
    bool m_open { false };
    bool m_pushed_modal { false };
    std::optional<WString> m_pending_choice;
    bool m_pending_close { false };
};

}
