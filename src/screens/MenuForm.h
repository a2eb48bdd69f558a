#pragma once

// The main menu: a full screen of large buttons (back, exit, minimise, help,
// about, language), the language popup, the short screen that reloads every
// form after a language change, and the about screen.

#include "screens/ScreenForm.h"
#include "widgets/Menu.h"
#include "widgets/ScrollText.h"

namespace qv {

// Shown modal; on its first frame it has every form rebuild itself from
// the skin and the language now loaded, then leaves.
class ReloadForm final : public ScreenForm {
public:
    explicit ReloadForm(PropertiesImpl& store);
    void set_visible(bool visible) override;
    void advance(double seconds) override;

private:
    void on_built() override { }
    bool m_reload_pending { false };
};

// A page of text ("text") under a back button ("btnBack"): a text longer
// than the screen scrolls, by the wheel anywhere on the screen and by the
// page keys whatever holds the focus.
class TextPageForm : public ScreenForm {
public:
    bool on_click(Element& source, Point position) override;
    bool on_key(KeyInput const& key) override;
    bool on_wheel(Point point, double notches, bool ctrl) override;

    ScrollTextElement* text() const { return m_text; }

protected:
    // `arrows_scroll`: Up and Down scroll the text too, where the page is
    // all there is to move through.
    TextPageForm(PropertiesImpl& store, WStringView form, bool arrows_scroll);
    void on_built() override;
    ScrollTextElement* m_text { nullptr };

private:
    bool const m_arrows_scroll;
};

// The program's name, version and description.
class AboutForm final : public TextPageForm {
public:
    explicit AboutForm(PropertiesImpl& store);
};

// A help page as text, for where no browser can show it.
class HelpForm final : public TextPageForm {
public:
    explicit HelpForm(PropertiesImpl& store);
    void show_text(WStringView text);

private:
    void on_built() override;
    WString m_shown;
};

class MenuForm final : public ScreenForm, public MenuSource {
public:
    explicit MenuForm(PropertiesImpl& store);

    bool on_click(Element& source, Point position) override;
    void get_items(MenuScreen& menu, WStringView name, WString& caption, std::vector<MenuItem>& items) override;

    MenuScreen& popup() { return m_popup; }
    AboutForm& about() { return m_about; }
    HelpForm& help() { return m_help; }
    ReloadForm& reload() { return m_reload; }
    // The help page in the browser where one can be started, else in
    // `help()`; false when the page cannot be read either.
    bool show_help(bool browser_allowed);

private:
    void on_built() override;

    MenuScreen m_popup;
    AboutForm m_about;
    HelpForm m_help;
    ReloadForm m_reload;
};

// "%app_path%\" followed by the help page the language names.
WString help_page_path(PropertiesImpl const& store);

// Whether a browser could show a page: a desktop to show it on.
bool desktop_browser_possible();

}
