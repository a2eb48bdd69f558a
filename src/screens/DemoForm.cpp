#include "screens/DemoForm.h"

#include "base/Log.h"

namespace qv {

namespace {

// A list row: the "DemoRow" template with its number.
class DemoRow final : public ListItem {
public:
    explicit DemoRow(PropertiesImpl& store)
        : m_store(store)
    {
    }

    void bind(VirtualList&, bool, bool fresh) override
    {
        if (fresh && !load_form(m_store, u"DemoRow"))
            throw NodeNotFoundInSkin(u"DemoRow");
        deliver_text(u"#text", u"Row " + to_wstring(index() + 1));
    }

private:
    PropertiesImpl& m_store;
};

}

DemoForm::DemoForm(PropertiesImpl& store)
    : ScreenForm(store, u"Demo")
{
    build();
}

void DemoForm::on_built()
{
    require_button(u"btnDemoMenu");
    require_button(u"btnDemo");
    bind_child(u"chkDemo", this);
    require(u"chkDemo");
    m_progress = &require<ProgressElement>(u"prgDemo");
    m_progress->set_value(0.3);
    m_edit = &require<EditElement>(u"edtDemo");
    m_logged_text = m_edit->text();
    m_list = &require<VirtualList>(u"lstDemo");
    m_list->set_provider(this, kRows);
    m_popup.bind(store(), u"MenuPanel");
    m_popup.set_source(this);
    m_popup.set_default_template(u"MenuElement");
}

bool DemoForm::on_click(Element& source, Point)
{
    Log::get() << u"demo: click " << source.id() << u"\n";
    if (source.id() == u"btnDemoMenu") {
        m_popup.show_menu(u"DemoMenu", u"", false);
    } else if (source.id() == u"btnDemo") {
        double const next = m_progress->value() + 0.1;
        m_progress->set_value(next > 1.0 ? 0.0 : next);
    } else if (source.id() == u"chkDemo") {
        // The check box cycles by itself without a handler; with one, the
        // screen decides.
        if (auto* box = dynamic_cast<CheckboxElement*>(&source)) {
            box->set_state((box->state() + 1) % static_cast<std::int32_t>(box->states().size()));
            Log::get() << u"demo: state " << box->state() << u"\n";
        }
    }
    return true;
}

void DemoForm::advance(double seconds)
{
    ScreenForm::advance(seconds);
    if (m_edit->text() != m_logged_text) {
        m_logged_text = m_edit->text();
        Log::get() << u"demo: edit text [" << m_logged_text << u"]\n";
    }
    // Where a scroll came to rest.
    if (m_list->velocity() == 0 && !m_list->stylus_down() && m_list->first_index() + 1 != m_logged_row) {
        m_logged_row = m_list->first_index() + 1;
        Log::get() << u"demo: list at row " << m_logged_row << u"\n";
    }
}

void DemoForm::on_item_clicked(VirtualList&, std::int32_t index)
{
    Log::get() << u"demo: item " << index << u"\n";
    m_list->set_selected_index(index);
    m_list->rebind_item(index);
}

ListItem* DemoForm::create_item(VirtualList&, std::int32_t) { return new DemoRow(store()); }

void DemoForm::get_items(MenuScreen&, WStringView name, WString& caption, std::vector<MenuItem>& items)
{
    Log::get() << u"demo: menu " << name << u"\n";
    if (name == u"DemoMenu") {
        caption = u"Choose";
        for (auto const* id : { u"First", u"Second" }) {
            items.push_back(menu_item(id, {}, WString(id) + u" choice"));
            items.back().checked = m_choice == id;
        }
        items.push_back(menu_item(u"Never", u"MenuElementRed", u"Not now"));
        items.back().enabled = false;
        items.push_back(menu_item(u"Cancel", u"MenuElementCancel"));
        items.back().separator = true;
    } else if (name == u"First" || name == u"Second") {
        m_choice = WString(name);
    }
}

}
