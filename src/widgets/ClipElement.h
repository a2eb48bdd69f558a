#pragma once

// A container whose children never draw outside its rectangle (skin "clip").

#include "widgets/Element.h"

namespace qv {

class ClipElement : public Element {
public:
    using Element::Element;
    void draw(DrawTarget& target, Point origin) override;
};

}
