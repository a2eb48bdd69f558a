#pragma once

// A bar whose "#line" child grows with the filled fraction (skin "progress").

#include "widgets/Element.h"

namespace qv {

class ProgressElement : public Element {
public:
    using Element::Element;

    void load(PropertiesImpl const& store, SkinNode node) override;
    void remove_child(Element* child) override;
    void layout_horizontal() override;
    void layout_vertical() override;

    double value() const { return m_value; }
    void set_value(double value);
    Element* line() const { return m_line; }

private:
    double m_value { 0.0 };
    Element* m_line { nullptr };
};

}
