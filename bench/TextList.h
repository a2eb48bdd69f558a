#pragma once

// The list the frame benchmarks scroll and page through: a 480 x 640 screen
// whose list shows text rows made from their template as they come into
// view and destroyed as they leave, as the album list does.

#include "skin/Properties.h"
#include "widgets/VirtualList.h"

#include <cstdint>
#include <string>

namespace qv::bench {

inline constexpr char const* kTextListSkin = R"(form Screen
    string type node
    color outside_color 0 0 0
    node background
        string type color
        color color 32 32 48
    node list
        string type vlist
        point scroll_border_min 0 6
        point scroll_border_max 0 6
form Row
    string type node
    point design_size 480 64
    node #vlist_normal
        string type color
        color color 240 240 240
    node #vlist_pressed
        string type color
        color color 255 200 120
    node #vlist_selected
        string type color
        color color 180 210 255
    node line
        string type color
        string anchor_y MAX_SIDE
        point design_size 0 1
        color color 160 160 160
    node #text
        string type text
        font font 18 0 0 0 Tahoma
        color color 0 0 0
        string halign LEFT
        point border_min 12 0
        point border_max 12 0
)";

class TextRow : public ListItem {
public:
    explicit TextRow(PropertiesImpl const& store)
        : m_store(store)
    {
    }
    void bind(VirtualList&, bool, bool fresh) override
    {
        if (fresh)
            load_form(m_store, u"Row");
        auto const label = "Album " + std::to_string(index()) + " - " + std::to_string(index() * 7 % 300) + " pictures";
        deliver_text(u"#text", from_utf8(label));
    }

private:
    PropertiesImpl const& m_store;
};

class TextRows : public ListProvider {
public:
    explicit TextRows(PropertiesImpl const& store)
        : m_store(store)
    {
    }
    void on_item_clicked(VirtualList&, std::int32_t) override { }
    ListItem* create_item(VirtualList&, std::int32_t) override
    {
        ++made;
        return new TextRow(m_store);
    }
    std::int64_t made { 0 };

private:
    PropertiesImpl const& m_store;
};

}
