#pragma once

// A plain rectangle of one colour (skin "color"), or, with "brightness"
// (0 black .. 255 unchanged, in sixteenths), a shade that darkens what lies
// under it: the backing that keeps white controls readable over any photo.

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
    // The brightness a shade leaves, or -1 for a plain colour.
    std::int32_t brightness() const { return m_brightness; }

private:
    SkinColor m_color;
    std::int32_t m_brightness { -1 };
};

}
