#pragma once

// A skin picture drawn over the element's rectangle, nine-slice style
// (skin "image").

#include "imaging/Picture.h"
#include "widgets/Element.h"

#include <memory>

namespace qv {

class ImageElement : public Element {
public:
    using Element::Element;

    void load(PropertiesImpl const& store, SkinNode node) override;
    void draw(DrawTarget& target, Point origin) override;
    void measure_width(MeasurePair& pair) override;
    void measure_height(MeasurePair& pair) override;

    PictureRef const& picture() const { return m_picture; }
    void set_picture(PictureRef picture);
    bool grow() const { return m_grow; }

private:
    PictureRef m_picture;
    std::unique_ptr<PixelOp> m_draw_op;
    bool m_grow { false };
};

}
