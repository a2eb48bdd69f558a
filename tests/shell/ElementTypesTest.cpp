// The toolkit's element types come from one table, held by the application
// for its whole life and by tests for theirs: every type a skin may name is
// there, the viewer's picture included, and a caller's own class behind a
// toolkit name stands in for it only while it is registered.

#include "shell/Application.h"
#include "skin/ElementRegistry.h"
#include "skin/SkinErrors.h"
#include "HeadlessEnvironment.h"
#include "support/TestSupport.h"
#include "widgets/ColorElement.h"
#include "widgets/Form.h"
#include "widgets/ImageElement.h"
#include "widgets/TextElement.h"
#include "widgets/TextLabel.h"
#include "widgets/TileView.h"
#include "widgets/WidgetTypes.h"

#include <gtest/gtest.h>

#include <optional>
#include <typeinfo>
#include <vector>

using namespace qv;

namespace {

std::vector<WString> toolkit_names()
{
    std::vector<WString> names(std::begin(kElementTypes), std::end(kElementTypes));
    names.emplace_back(kBigPictureType);
    return names;
}

// The class create_element makes for the type, under a throwaway form.
std::type_info const& made_class(WString const& type)
{
    Form form;
    Element* element = create_element(type, &form);
    return typeid(*element);
}

class ElementTypesTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::HeadlessEnvironment m_environment { m_dir };

    void SetUp() override
    {
        platform::MessageQueue::main().clear();
        // Nothing else holds the types while these tests run.
        for (auto const& name : toolkit_names())
            ASSERT_FALSE(is_element_type_known(name)) << to_utf8(name);
    }
};

}

TEST_F(ElementTypesTest, the_application_holds_every_toolkit_type_and_only_while_it_lives)
{
    {
        Application app(u"Quilvane");
        for (auto const& name : toolkit_names())
            EXPECT_TRUE(is_element_type_known(name)) << to_utf8(name);
        // The names build their own classes; the viewer's picture as well.
        EXPECT_EQ(made_class(kBigPictureType), typeid(TileView));
        EXPECT_EQ(made_class(u"text"), typeid(TextElement));
        EXPECT_EQ(made_class(u"oldtext"), typeid(TextLabel));
        EXPECT_EQ(made_class(u"color"), typeid(ColorElement));
        EXPECT_FALSE(is_element_type_known(u"no such type"));
    }
    for (auto const& name : toolkit_names())
        EXPECT_FALSE(is_element_type_known(name)) << to_utf8(name);
    EXPECT_THROW(made_class(kBigPictureType), NodeNotRegistered);
}

TEST_F(ElementTypesTest, holders_nest_and_the_types_go_with_the_last)
{
    auto app = std::make_unique<Application>(u"Quilvane");
    {
        WidgetTypes scope;
        EXPECT_TRUE(is_element_type_known(kBigPictureType));
    }
    // The test's scope has ended; the application still holds them.
    for (auto const& name : toolkit_names())
        EXPECT_TRUE(is_element_type_known(name)) << to_utf8(name);
    {
        WidgetTypes scope;
        app.reset();
        // The application has ended; the test's scope still holds them.
        EXPECT_EQ(made_class(u"image"), typeid(ImageElement));
        EXPECT_TRUE(is_element_type_known(u"vlist"));
    }
    EXPECT_FALSE(is_element_type_known(u"vlist"));
}

TEST_F(ElementTypesTest, a_class_registered_behind_a_toolkit_name_stands_in_only_while_registered)
{
    WidgetTypes scope;
    // Harmless over the toolkit's type: the caller's class is made instead.
    register_element_type(kBigPictureType, [](Element* parent) -> Element* { return new ColorElement(parent); });
    EXPECT_EQ(made_class(kBigPictureType), typeid(ColorElement));
    // A second registration by name is still refused.
    EXPECT_THROW(register_element_type(kBigPictureType, [](Element* parent) -> Element* { return new Element(parent); }),
        NodeAlreadyRegistered);
    EXPECT_EQ(unregister_element_type(kBigPictureType), 1u);
    EXPECT_EQ(made_class(kBigPictureType), typeid(TileView));
    // Unregistering by name never takes the toolkit's own type.
    EXPECT_EQ(unregister_element_type(kBigPictureType), 0u);
    EXPECT_EQ(made_class(kBigPictureType), typeid(TileView));
}
