#pragma once

// What the toolkit's tests share: the element types for the length of a
// test, skins compiled from source text, and a form loaded from one of
// their nodes. Test thread only; a skin that does not compile or a node
// that does not load fails the test through gtest's checks.

#include "skin/ElementRegistry.h"
#include "skin/Properties.h"
#include "skin/SkinCompiler.h"
#include "widgets/Form.h"
#include "widgets/WidgetTypes.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string_view>

namespace qv::test {

// Every type the toolkit builds, the viewer's picture included, for the
// length of a test: the program's own table, held as the shell holds it.
using WidgetTypesScope = WidgetTypes;

// A skin compiled from source text; no pictures.
inline std::unique_ptr<PropertiesImpl> skin_from_source(std::string_view source)
{
    auto result = compile_skin(source, [](std::string const&) { return std::optional<Size> {}; });
    EXPECT_EQ(result.error, "");
    return std::make_unique<PropertiesImpl>(result.image, u".", DisplayInfo { 240, 320, 96 });
}

// A form loaded from one top-level node of `source` and placed at `size`.
struct LoadedForm {
    WidgetTypesScope types;
    std::unique_ptr<PropertiesImpl> store;
    Form form;

    LoadedForm(std::string_view source, WStringView node, Size size)
        : store(skin_from_source(source))
    {
        EXPECT_TRUE(form.load_form(*store, node));
        form.set_visible(true);
        form.place(size);
    }

    Element& child(WStringView id)
    {
        auto* element = form.find_child(id);
        EXPECT_NE(element, nullptr);
        return *element;
    }
};

}
