#include "widgets/WidgetTypes.h"

#include "widgets/ButtonElement.h"
#include "widgets/ClipElement.h"
#include "widgets/ColorElement.h"
#include "widgets/EditElement.h"
#include "widgets/ImageElement.h"
#include "widgets/ProgressElement.h"
#include "widgets/ScrollText.h"
#include "widgets/TableElement.h"
#include "widgets/TextElement.h"
#include "widgets/TextLabel.h"
#include "widgets/TileView.h"
#include "widgets/VirtualList.h"

#include <iterator>

namespace qv {

ElementFactory widget_factory(WStringView type)
{
    if (type == u"node")
        return [](Element* parent) -> Element* { return new Element(parent); };
    if (type == u"color")
        return [](Element* parent) -> Element* { return new ColorElement(parent); };
    if (type == u"image")
        return [](Element* parent) -> Element* { return new ImageElement(parent); };
    if (type == u"clip")
        return [](Element* parent) -> Element* { return new ClipElement(parent); };
    if (type == u"htable")
        return [](Element* parent) -> Element* { return new TableElement(parent, TableAxis::Horizontal); };
    if (type == u"vtable")
        return [](Element* parent) -> Element* { return new TableElement(parent, TableAxis::Vertical); };
    if (type == u"progress")
        return [](Element* parent) -> Element* { return new ProgressElement(parent); };
    if (type == u"button")
        return [](Element* parent) -> Element* { return new ButtonElement(parent); };
    if (type == u"checkbox")
        return [](Element* parent) -> Element* { return new CheckboxElement(parent); };
    if (type == u"text")
        return [](Element* parent) -> Element* { return new TextElement(parent); };
    if (type == u"scrolltext")
        return [](Element* parent) -> Element* { return new ScrollTextElement(parent); };
    if (type == u"oldtext")
        return [](Element* parent) -> Element* { return new TextLabel(parent); };
    if (type == u"vlist")
        return [](Element* parent) -> Element* { return new VirtualList(parent); };
    if (type == u"edit")
        return [](Element* parent) -> Element* { return new EditElement(parent); };
    if (type == u"label_edit")
        return [](Element* parent) -> Element* { return new LabelEdit(parent); };
    if (type == kBigPictureType)
        return [](Element* parent) -> Element* { return new TileView(parent); };
    return {};
}

WidgetTypes::WidgetTypes()
{
    for (auto const* type : kElementTypes)
        add_toolkit_element_type(type, widget_factory(type));
    add_toolkit_element_type(kBigPictureType, widget_factory(kBigPictureType));
}

WidgetTypes::~WidgetTypes()
{
    remove_toolkit_element_type(kBigPictureType);
    for (auto it = std::rbegin(kElementTypes); it != std::rend(kElementTypes); ++it)
        remove_toolkit_element_type(*it);
}

}
