#pragma once

// A text block drawn in one call (skin "oldtext"): no layout of its own
// beyond what draw_text does.

#include "skin/FontRep.h"
#include "skin/TextLayout.h"
#include "widgets/Element.h"

namespace qv {

class TextLabel : public Element {
public:
    using Element::Element;

    void load(PropertiesImpl const& store, SkinNode node) override;
    void deliver_text(WStringView target_id, WStringView text) override;
    void draw(DrawTarget& target, Point origin) override;
    void measure_width(MeasurePair& pair) override;
    void measure_height(MeasurePair& pair) override;

    void set_text(WStringView text);
    WString const& text() const { return m_text; }

private:
    Size text_size();

    FontHandle m_font { empty_font() };
    SkinColor m_color;
    WString m_text;
    bool m_grow { false };
    Size m_text_size { -1, -1 };
    HAlign m_halign { HAlign::Center };
    VAlign m_valign { VAlign::VCenter };
    bool m_wrap { false };
};

}
