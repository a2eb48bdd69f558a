#pragma once

// A row ("htable") or column ("vtable") that shares its length among its
// visible children by their measures and table ratios.

#include "widgets/Element.h"

namespace qv {

enum class TableAxis { Horizontal, Vertical };

class TableElement : public Element {
public:
    TableElement(Element* parent, TableAxis axis)
        : Element(parent)
        , m_axis(axis)
    {
    }

    TableAxis axis() const { return m_axis; }

    void layout_horizontal() override;
    void layout_vertical() override;
    void measure_width(MeasurePair& pair) override;
    void measure_height(MeasurePair& pair) override;

private:
    std::vector<Element*> visible_children() const;

    TableAxis m_axis;
};

}
