#include "screens/MenuForm.h"

#include "widgets/ScreenHost.h"
#include "base/Directories.h"
#include "base/Language.h"
#include "base/Log.h"
#include "platform/Window.h"
#include "platform/WindowMessages.h"
#include "screens/HelpText.h"

#include <cstdlib>
#include "widgets/LanguageMenu.h"

namespace qv {

namespace {

constexpr char16_t const* kAppName = u"Quilvane";

void post_quit() { platform::MessageQueue::main().post_quit(); }

}

ReloadForm::ReloadForm(PropertiesImpl& store)
    : ScreenForm(store, u"ReloadForm")
{
    build();
}

void ReloadForm::set_visible(bool visible)
{
    ScreenForm::set_visible(visible);
    if (visible)
        m_reload_pending = true;
}

void ReloadForm::advance(double seconds)
{
    ScreenForm::advance(seconds);
    if (!m_reload_pending)
        return;
    // Rebuilding may reach this form too; nothing of it is used afterwards
    // but the flag, which is cleared first.
    m_reload_pending = false;
    store().send_reload_skin();
    close();
}

TextPageForm::TextPageForm(PropertiesImpl& store, WStringView form, bool arrows_scroll)
    : ScreenForm(store, WString(form))
    , m_arrows_scroll(arrows_scroll)
{
}

void TextPageForm::on_built()
{
    enable_keyboard_focus();
    set_focus(&require_button(u"btnBack"));
    m_text = dynamic_cast<ScrollTextElement*>(find_child(u"text"));
}

bool TextPageForm::on_key(KeyInput const& key)
{
    if (ScreenForm::on_key(key))
        return true;
    if (!m_text || !m_text->usable())
        return false;
    // The page keys and the ends scroll the text from wherever the focus is.
    bool const scrolling = key.key == Key::PageUp || key.key == Key::PageDown || key.key == Key::Home
        || key.key == Key::End || (m_arrows_scroll && (key.key == Key::Up || key.key == Key::Down));
    return scrolling && m_text->on_focus_key(key);
}

bool TextPageForm::on_wheel(Point point, double notches, bool ctrl)
{
    // The text is all there is to scroll, wherever the pointer is.
    return ScreenForm::on_wheel(point, notches, ctrl) || (m_text && m_text->usable() && m_text->on_wheel(point, notches, ctrl));
}

bool TextPageForm::on_click(Element& source, Point)
{
    if (source.id() == u"btnBack")
        close();
    return true;
}

AboutForm::AboutForm(PropertiesImpl& store)
    : TextPageForm(store, u"AboutForm", false)
{
    build();
}

HelpForm::HelpForm(PropertiesImpl& store)
    : TextPageForm(store, u"HelpForm", true)
{
    build();
}

void HelpForm::on_built()
{
    TextPageForm::on_built();
    // Built again after a language change: the page shown stays.
    if (m_text && !m_shown.empty())
        m_text->set_text(m_shown);
}

void HelpForm::show_text(WStringView text)
{
    m_shown = WString(text);
    if (m_text) {
        m_text->set_text(m_shown);
        m_text->scroll_to(0);
    }
}

MenuForm::MenuForm(PropertiesImpl& store)
    : ScreenForm(store, u"MenuForm")
    , m_about(store)
    , m_help(store)
    , m_reload(store)
{
    Log::get() << u"menu form\n";
    build();
}

void MenuForm::on_built()
{
    struct Entry {
        char16_t const* button;
        char16_t const* text;
    };
    static constexpr Entry kButtons[] = { { u"btnBack", u"Back" }, { u"btnExit", u"Exit" },
        { u"btnCollapse", u"Minimize" }, { u"btnHelp", u"Help" }, { u"btnAbout", u"About" },
        { u"btnLanguage", u"Language" } };
    for (auto const& entry : kButtons)
        require_button(entry.button).set_caption(text(entry.text));
    // The keys start where a finger would: on the way back.
    enable_keyboard_focus();
    set_focus(&require(u"btnBack"));
    m_popup.bind(store(), u"MenuPanel");
    m_popup.set_source(this);
    m_popup.set_default_template(u"MenuElement");
}

bool MenuForm::on_click(Element& source, Point)
{
    WString const& id = source.id();
    Log::get() << u"menu form: click " << id << u"\n";
    if (id == u"btnBack") {
        close();
    } else if (id == u"btnExit") {
        post_quit();
    } else if (id == u"btnCollapse") {
        if (auto* application = ScreenHost::instance())
            application->minimize();
    } else if (id == u"btnHelp") {
        show_help(desktop_browser_possible());
    } else if (id == u"btnAbout") {
        m_about.open();
    } else if (id == u"btnLanguage") {
        m_popup.show_menu(u"Language", u"", false);
    }
    return true;
}

void MenuForm::get_items(MenuScreen&, WStringView name, WString&, std::vector<MenuItem>& items)
{
    if (name == u"Language") {
        fill_language_menu(store().language(), kAppName, items, u"");
        return;
    }
    // Everything else is a choice that closes the popup: a language, or
    // "Cancel".
    if (select_language(store().language(), kAppName, name)) {
        Log::get() << u"language " << name << u"\n";
        m_reload.open(true);
    }
}

bool MenuForm::show_help(bool browser_allowed)
{
    WString const page = help_page_path(store());
    Log::get() << u"help " << page << u"\n";
    if (browser_allowed && execute_file(page, u""))
        return true;
    WString const text = read_help_page(page);
    if (text.empty()) {
        Log::get() << u"help: the page cannot be read\n";
        return false;
    }
    Log::get() << u"help: shown in the program\n";
    m_help.show_text(text);
    m_help.open();
    return true;
}

bool desktop_browser_possible()
{
    auto const kind = platform::display_kind();
    if (kind == platform::DisplayKind::Headless || kind == platform::DisplayKind::Framebuffer)
        return false;
    auto const set = [](char const* name) {
        char const* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

WString help_page_path(PropertiesImpl const& store)
{
    return WString(u"%app_path%\\") + store.text(u"Help_link");
}

}
