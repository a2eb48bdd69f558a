#pragma once

// A plain rectangle of one colour (skin "color").

#include "widgets/Element.h"

namespace qv {

class ColorElement : public Element {
public:
    using Element::Element;

    void load(PropertiesImpl const& store, SkinNode node) override;
    void draw(DrawTarget& target, Point origin) override;

    SkinColor color() const { return m_color; }
    // The colour in the screen's 5-6-5 form.
    std::uint16_t pixel() const;

private:
    SkinColor m_color;
};

}
