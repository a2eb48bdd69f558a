#pragma once

// The element classes behind the skin's type names: the one table of the
// toolkit's types, and the holder that puts them all in the element registry
// (skin/ElementRegistry) while it lives. The shell holds one for the run;
// a test holds one for its length. Holders nest: the types stay until the
// last holder goes.
//
// Threads: the user-interface thread; a holder is made and ended while no
// splash loader is building a screen.
// Failures: none of its own; a skin naming a type outside the table fails
// when its form is built (NodeNotRegistered).

#include "core/WString.h"
#include "skin/ElementRegistry.h"

namespace qv {

// The general elements, in registration order.
inline constexpr char16_t const* kElementTypes[] = { u"node", u"text", u"color", u"image", u"edit", u"htable",
    u"vtable", u"button", u"vlist", u"checkbox", u"progress", u"oldtext", u"label_edit", u"clip", u"scrolltext" };
// The viewer's zoomable picture (TileView), registered after the others.
inline constexpr char16_t const* kBigPictureType = u"bigpicture";

// The factory for any type of the table; empty for any other name.
ElementFactory widget_factory(WStringView type);

class WidgetTypes {
public:
    // Adds every type of the table, kElementTypes then kBigPictureType.
    WidgetTypes();
    // Takes them back in the opposite order.
    ~WidgetTypes();
    WidgetTypes(WidgetTypes const&) = delete;
    WidgetTypes& operator=(WidgetTypes const&) = delete;
};

}
