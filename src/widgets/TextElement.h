#pragma once

// A text the program lays out itself (skin "text"): words flowed into
// lines or one line, an ellipsis before the end of a right-aligned line
// that does not fit, justified lines, and optional side parts "#left" and
// "#right" that the lines keep clear of.

#include "skin/FontRep.h"
#include "skin/TextLayout.h"
#include "widgets/Element.h"
#include "widgets/TextFlow.h"

#include <vector>

namespace qv {

class TextElement : public Element {
public:
    using Element::Element;

    void load(PropertiesImpl const& store, SkinNode node) override;
    void remove_child(Element* child) override;
    void deliver_text(WStringView target_id, WStringView text) override;
    void draw(DrawTarget& target, Point origin) override;
    void layout_horizontal() override;
    void layout_vertical() override;
    void measure_width(MeasurePair& pair) override;
    void measure_height(MeasurePair& pair) override;

    void set_text(WStringView text);
    WString const& text() const { return m_text; }
    std::vector<FlowLine> const& lines() const { return m_lines; }
    Element* left_part() const { return m_left_part; }
    Element* right_part() const { return m_right_part; }

protected:
    RunSize measure_run(WStringView text) const;
    // The width the side parts take beside a line at y (from the top).
    std::int32_t sides_at(std::int32_t y) const;
    void flow();
    // Called after every new layout of the lines.
    virtual void on_text_flowed() { }
    // Where the block of lines starts (from the element's top) and where a
    // line at y starts (from its left), scroll included.
    std::int32_t block_top() const;
    std::int32_t line_left(FlowLine const& line, std::int32_t y) const;
    void draw_lines(DrawTarget& target, Point origin);

    FontHandle m_font { empty_font() };
    WString m_text;
    bool m_grow { false };
    bool m_grow_min { false };
    SkinColor m_color;
    HAlign m_halign { HAlign::Center };
    VAlign m_valign { VAlign::VCenter };
    bool m_wrap { false };
    // One line shortened in its middle as a path (skin "elide PATH").
    bool m_elide_path { false };
    Element* m_left_part { nullptr };
    Element* m_right_part { nullptr };
    std::vector<TextRun> m_runs;
    std::vector<FlowLine> m_lines;
    // Edit fields: without wrap one line holds every run, scrolled by
    // m_scroll_x (0 or negative) when it is wider than the field.
    bool m_place_all { false };
    std::int32_t m_scroll_x { 0 };
    // Scrolling texts: pixels of the block above the element's top.
    std::int32_t m_scroll_y { 0 };
};

}
