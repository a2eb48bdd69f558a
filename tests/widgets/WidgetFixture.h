#pragma once

#include "shell/Application.h"
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

// The type names the toolkit builds, registered for the length of a test.
class WidgetTypesScope {
public:
    WidgetTypesScope()
    {
        for (auto const* type : kElementTypes)
            if (auto factory = widget_factory(type))
                register_element_type(type, factory), m_registered.push_back(type);
    }
    ~WidgetTypesScope()
    {
        for (auto const& type : m_registered)
            unregister_element_type(type);
    }

private:
    std::vector<WString> m_registered;
};

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
