#include "WidgetFixture.h"

#include "support/TestSupport.h"
#include "skin/SkinErrors.h"
#include "widgets/LanguageMenu.h"
#include "widgets/Menu.h"
#include "widgets/TextElement.h"

#include <map>

using namespace qv;

namespace {

// Rows are 20 pixels high and fill the 100 x 200 screen from the top.
constexpr char const* kMenuSkin = R"(form Menu
    string type node
    node panel
        string type node
        node caption
            string type text
        node vlist
            string type vlist
form NoList
    string type node
    node panel
        string type node
form MenuElement
    string type node
    point design_size 100 20
    node #text
        string type text
    node separator
        string type color
    node checked
        string type color
form MenuElementDisabled
    string type node
    point design_size 100 20
    node #text
        string type text
form MenuElementRed
    string type node
    point design_size 100 20
    node #text
        string type text
form MenuElementRedDisabled
    string type node
    point design_size 100 20
    node #text
        string type text
form MenuElementCancel
    string type node
    point design_size 100 20
    node #text
        string type text
form FourButtons
    string type node
    point design_size 100 20
    node About
        string type button
        string anchor_x MIN_SIDE
        point design_size 25 20
    node Exit
        string type button
        string anchor_x MIN_SIDE
        point border_min 75 0
        point design_size 25 20
)";

MenuItem item(WString id, WString style = {}, bool enabled = true)
{
    MenuItem result;
    result.id = std::move(id);
    result.style = std::move(style);
    result.enabled = enabled;
    return result;
}

struct Source : MenuSource {
    std::map<WString, std::vector<MenuItem>> menus;
    std::vector<WString> asked;
    void get_items(MenuScreen&, WStringView name, WString&, std::vector<MenuItem>& items) override
    {
        asked.emplace_back(name);
        auto found = menus.find(WString(name));
        if (found != menus.end())
            items = found->second;
    }
};

struct MenuFixture {
    test::WidgetTypesScope types;
    test::TempDir dir;
    std::unique_ptr<PropertiesImpl> store { test::skin_from_source(kMenuSkin) };
    Source source;
    MenuScreen menu;
    std::uint32_t tick { 100 };

    MenuFixture()
    {
        test::write_bytes(dir / "test.lng", std::string("Exit Quit now\nMain Main menu\n"));
        EXPECT_TRUE(store->language().load(dir.program_path("test.lng")));
        menu.bind(*store, u"Menu");
        menu.set_source(&source);
        menu.place(Size { 100, 200 });
    }

    MenuRow* row(std::int32_t index) { return static_cast<MenuRow*>(menu.list()->item_at_index(index)); }
    WString row_text(std::int32_t index)
    {
        auto* text = row(index) ? dynamic_cast<TextElement*>(row(index)->find_child(u"#text")) : nullptr;
        return text ? text->text() : WString(u"<none>");
    }
    void open(WStringView name, bool reopen = false)
    {
        menu.show_menu(name, u"", reopen);
        menu.place(Size { 100, 200 });
        menu.advance(0.001);
    }
    void tap(int x, int y)
    {
        menu.on_pointer_button(PointerEvent { { x, y }, tick, true, false });
        tick += 300;
        menu.on_pointer_button(PointerEvent { { x, y }, tick, false, false });
    }
};

}

TEST(Menu, a_disabled_item_uses_the_disabled_template_and_does_nothing_when_chosen)
{
    MenuFixture f;
    f.source.menus[u"Main"] = { item(u"Red", u"MenuElementRed", false), item(u"Plain") };
    f.open(u"Main");
    ASSERT_TRUE(f.menu.is_open());
    ASSERT_NE(f.row(0), nullptr);
    EXPECT_EQ(f.row(0)->template_name(), u"MenuElementRedDisabled");
    EXPECT_EQ(f.row(1)->template_name(), u"MenuElement") << "the default template";
    f.tap(50, 10);
    EXPECT_EQ(f.source.asked.size(), 1u);
    EXPECT_EQ(f.menu.menu_name(), u"Main");
    EXPECT_TRUE(f.menu.is_open());
}

TEST(Menu, empty_texts_and_captions_come_from_the_language)
{
    MenuFixture f;
    MenuItem named = item(u"Other");
    named.text = u"Given";
    named.separator = true;
    named.checked = true;
    f.source.menus[u"Main"] = { item(u"Exit"), named, item(u"Unknown") };
    f.open(u"Main");
    EXPECT_EQ(f.row_text(0), u"Quit now");
    EXPECT_EQ(f.row_text(1), u"Given");
    EXPECT_EQ(f.row_text(2), u"Unknown") << "a missing key is its own text";
    auto* caption = dynamic_cast<TextElement*>(f.menu.caption());
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->text(), u"Main menu");
    // The marks show exactly for the items that carry them.
    EXPECT_TRUE(f.row(1)->find_child(u"separator")->visible());
    EXPECT_TRUE(f.row(1)->find_child(u"checked")->visible());
    EXPECT_FALSE(f.row(0)->find_child(u"separator")->visible());
    EXPECT_FALSE(f.row(0)->find_child(u"checked")->visible());
}

TEST(Menu, reopening_with_the_same_items_keeps_the_scroll_position)
{
    MenuFixture f;
    for (int i = 0; i < 30; ++i)
        f.source.menus[u"Main"].push_back(item(u"Item" + to_wstring(i)));
    f.open(u"Main");
    auto& list = *f.menu.list();
    f.menu.on_pointer_button(PointerEvent { { 50, 150 }, 100, true, false });
    f.menu.on_pointer_move(PointerEvent { { 50, 90 }, 110, false, false });
    f.menu.on_pointer_button(PointerEvent { { 50, 90 }, 500, false, false });
    f.menu.advance(0.001);
    // Sixty pixels down the list: two rows lie wholly above the window.
    double const scrolled = list.offset();
    std::int32_t const first = list.first_index();
    ASSERT_EQ(first, 1);
    ListItem* shown = list.items().front().get();

    f.source.menus[u"Main"][3].text = u"Renamed";
    f.open(u"Main");
    EXPECT_EQ(list.offset(), scrolled);
    EXPECT_EQ(list.first_index(), first);
    EXPECT_EQ(list.items().front().get(), shown) << "rows rebound in place";
    EXPECT_EQ(f.row_text(3), u"Renamed");

    // A changed list, or an explicit reopen, starts from the top.
    f.open(u"Main", true);
    EXPECT_EQ(list.offset(), list.scroll_border_min());
    EXPECT_EQ(list.first_index(), -1);
}

TEST(Menu, choosing_an_item_opens_its_menu_and_an_empty_one_closes_the_panel)
{
    MenuFixture f;
    f.source.menus[u"Main"] = { item(u"Sub"), item(u"Quit") };
    f.source.menus[u"Sub"] = { item(u"Deeper"), item(u"Quit"), item(u"Cancel") };
    f.open(u"Main");
    f.tap(50, 10);
    EXPECT_EQ(f.menu.menu_name(), u"Sub");
    EXPECT_EQ(f.menu.items().size(), 3u);
    EXPECT_TRUE(f.menu.is_open());
    EXPECT_TRUE(f.menu.visible());
    f.menu.advance(0.001);
    f.tap(50, 30);
    EXPECT_EQ(f.source.asked.back(), u"Quit");
    EXPECT_FALSE(f.menu.is_open());
    EXPECT_FALSE(f.menu.visible());
    EXPECT_TRUE(f.menu.list()->items().empty());
}

TEST(Menu, backspace_or_escape_on_a_row_closes_the_menu)
{
    MenuFixture f;
    f.source.menus[u"Main"] = { item(u"A") };
    for (Key key : { Key::Backspace, Key::Esc }) {
        f.open(u"Main");
        EXPECT_FALSE(f.menu.on_key(KeyInput { Key::Tab, true, true }));
        EXPECT_TRUE(f.menu.is_open());
        EXPECT_TRUE(f.menu.on_key(KeyInput { key, true, true }));
        EXPECT_FALSE(f.menu.is_open());
    }
    EXPECT_EQ(f.source.asked, (std::vector<WString> { u"Main", u"Main" })) << "closing chose nothing";
}

TEST(Menu, the_arrows_move_over_the_rows_and_enter_picks_the_focused_one)
{
    MenuFixture f;
    f.source.menus[u"Main"] = { item(u"Sub"), item(u"Off", {}, false), item(u"Quit") };
    f.source.menus[u"Sub"] = { item(u"Deeper"), item(u"Back") };
    f.open(u"Main");
    ASSERT_EQ(f.menu.focused(), f.menu.list());
    EXPECT_EQ(f.menu.list()->focus_index(), 0);
    EXPECT_TRUE(f.menu.on_key(KeyInput { Key::Down, true, true }));
    EXPECT_TRUE(f.menu.on_key(KeyInput { Key::Enter, true, true }));
    EXPECT_TRUE(f.menu.is_open()) << "a disabled row picks nothing";
    EXPECT_EQ(f.menu.menu_name(), u"Main");
    EXPECT_TRUE(f.menu.on_key(KeyInput { Key::End, true, true }));
    EXPECT_EQ(f.menu.list()->focus_index(), 2);
    EXPECT_TRUE(f.menu.on_key(KeyInput { Key::Home, true, true }));
    EXPECT_TRUE(f.menu.on_key(KeyInput { Key::Space, true, true }));
    EXPECT_EQ(f.menu.menu_name(), u"Sub");
    EXPECT_EQ(f.menu.list()->focus_index(), 0) << "a sub-menu opens on its first row";
    f.menu.advance(0.001);
    EXPECT_TRUE(f.menu.on_key(KeyInput { Key::Down, true, true }));
    EXPECT_FALSE(f.menu.on_key(KeyInput { Key::Down, true, true })) << "the last row does not wrap";
    EXPECT_TRUE(f.menu.on_key(KeyInput { Key::Enter, true, true }));
    EXPECT_EQ(f.source.asked.back(), u"Back");
    EXPECT_FALSE(f.menu.is_open());
}

TEST(Menu, the_buttons_of_a_four_button_row_open_the_menu_of_their_name)
{
    MenuFixture f;
    f.source.menus[u"Main"] = { item(kFourButtonsItem, u"FourButtons"), item(u"B") };
    f.source.menus[u"Exit"] = { item(u"ReallyExit", u"MenuElementRed"), item(u"Cancel", u"MenuElementCancel") };
    f.open(u"Main");
    ASSERT_EQ(f.row(0)->template_name(), u"FourButtons");
    // The button's row is replaced by the "Exit" menu while its click is
    // still being delivered.
    f.tap(90, 10);
    EXPECT_EQ(f.menu.menu_name(), u"Exit");
    EXPECT_EQ(f.menu.caption_text(), u"Quit now");
    EXPECT_TRUE(f.menu.is_open());
}

TEST(Menu, missing_nodes_raise_the_skin_errors)
{
    MenuFixture f;
    MenuScreen other;
    EXPECT_THROW(other.bind(*f.store, u"Absent"), NodeNotFoundInSkin);
    EXPECT_THROW(other.bind(*f.store, u"NoList"), NodeNotFound);
    f.source.menus[u"Main"] = { item(u"A", u"NoSuchTemplate") };
    EXPECT_THROW(f.open(u"Main"), NodeNotFoundInSkin);
}

TEST(LanguageMenu, lists_the_language_files_in_path_order_with_the_loaded_one_checked)
{
    test::TempDir dir;
    for (auto const* name : { "russian.lng", "english.lng", "German.lng", "notes.txt" })
        test::write_bytes(dir / name, std::string("Exit Exit\n"));
    LanguageTable loaded;
    ASSERT_TRUE(loaded.load(dir.program_path("english.lng")));
    std::vector<MenuItem> items;
    fill_language_menu(loaded, u"Quilvane", items, u"CancelAction", dir.program_path());
    ASSERT_EQ(items.size(), 4u);
    // Ascending paths: capitals sort before small letters.
    EXPECT_EQ(items[0].id, u"Language#German");
    EXPECT_EQ(items[1].id, u"Language#english");
    EXPECT_EQ(items[2].id, u"Language#russian");
    EXPECT_EQ(items[1].text, u"english");
    EXPECT_FALSE(items[0].checked);
    EXPECT_TRUE(items[1].checked);
    EXPECT_FALSE(items[2].checked);
    EXPECT_EQ(items[0].style, u"MenuElement");
    EXPECT_EQ(items[3].id, u"Cancel");
    EXPECT_EQ(items[3].extra, u"CancelAction");

    // The loaded file's name is compared without regard to case.
    LanguageTable german;
    ASSERT_TRUE(german.load(dir.program_path("German.lng")));
    items.clear();
    fill_language_menu(german, u"Quilvane", items, u"", dir.program_path());
    EXPECT_TRUE(items[0].checked);
    EXPECT_FALSE(items[1].checked);
}
