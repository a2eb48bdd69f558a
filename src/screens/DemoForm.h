#pragma once

// A page with one element of each kind and a thousand-row list, shown by
// `quilvane --demo`: a place to try the toolkit by hand and to drive it
// from scripts.

#include "screens/ScreenForm.h"
#include "widgets/EditElement.h"
#include "widgets/Menu.h"
#include "widgets/ProgressElement.h"
#include "widgets/VirtualList.h"

namespace qv {

class DemoForm final : public ScreenForm, public MainScreen, public ListProvider, public MenuSource {
public:
    static constexpr std::int32_t kRows = 1000;

    explicit DemoForm(PropertiesImpl& store);

    Screen& main_screen() override { return screen(); }
    bool on_click(Element& source, Point position) override;
    void advance(double seconds) override;
    void on_item_clicked(VirtualList& list, std::int32_t index) override;
    ListItem* create_item(VirtualList& list, std::int32_t index) override;
    void get_items(MenuScreen& menu, WStringView name, WString& caption, std::vector<MenuItem>& items) override;

    VirtualList& list() { return *m_list; }
    MenuScreen& popup() { return m_popup; }
    WString const& choice() const { return m_choice; }

private:
    void on_built() override;
    // The only screen: the back key does not close it.
    bool on_back() override { return false; }

    MenuScreen m_popup;
    VirtualList* m_list { nullptr };
    ProgressElement* m_progress { nullptr };
    EditElement* m_edit { nullptr };
    // What the log last said, so that scripts can follow the page.
    WString m_logged_text;
    std::int32_t m_logged_row { 0 };
    WString m_choice { u"First" };
};

}
