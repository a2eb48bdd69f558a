#include "shell/FirstScreen.h"

#include "base/Log.h"
#include "imaging/PictureFormat.h"
#include "imaging/PixelOp.h"
#include "skin/SkinErrors.h"

namespace qv {

namespace {

// The skin's accent colour, 76 166 232.
constexpr std::uint16_t kMarkColour = ((76 >> 3) << 11) | ((166 >> 2) << 5) | (232 >> 3);
constexpr std::int32_t kMarkSide = 16;

}

FirstScreen::FirstScreen(PropertiesImpl const& properties)
{
    if (!m_form.load_form(properties, u"Main"))
        throw NodeNotFoundInSkin(u"Main");
    // Transparent parts of pictures show the viewer's background, in their
    // caches too, which are built from here on.
    if (auto viewer = properties.find_node(u"Image")) {
        auto const colour = properties.get_color(viewer, u"outside_color", SkinColor {});
        set_picture_background({ colour.red, colour.green, colour.blue });
    }
}

void FirstScreen::set_visible(bool visible)
{
    Screen::set_visible(visible);
    m_form.screen().set_visible(visible);
}

void FirstScreen::show(bool visible)
{
    Screen::set_visible(visible);
    m_form.screen().show(visible);
}

void FirstScreen::advance(double seconds) { m_form.screen().advance(seconds); }

void FirstScreen::draw(DrawTarget& target, Point origin)
{
    m_form.screen().draw(target, origin);
    m_mark_moved = false;
    if (m_mark.x < 0)
        return;
    fill_rect(target, origin.x + m_mark.x - kMarkSide / 2, origin.y + m_mark.y - kMarkSide / 2, kMarkSide,
        kMarkSide, ColourFillOp(kMarkColour));
}

bool FirstScreen::needs_redraw() const
{
    return m_mark_moved || m_form.needs_redraw() || m_form.layout_pending();
}

void FirstScreen::on_pointer_move(Point point) { m_form.screen().on_pointer_move(point); }

void FirstScreen::on_pointer_button(Point point, bool pressed, bool has_position, std::uint32_t tick)
{
    Log::get() << u"FirstScreen::on_pointer_button " << (pressed ? u"down " : u"up ") << point.x << u","
               << point.y << (has_position ? u"\n" : u" nowhere\n");
    if (pressed) {
        m_mark = point;
        m_mark_moved = true;
    }
    m_form.screen().on_pointer_button(point, pressed, has_position, tick);
}

bool FirstScreen::on_key(KeyInput const& key)
{
    Log::get() << u"FirstScreen::on_key " << key.key << (key.down ? u" down" : u" up")
               << (key.first ? u" first\n" : u" repeat\n");
    return m_form.screen().on_key(key);
}

void FirstScreen::on_text(WStringView text)
{
    Log::get() << u"FirstScreen::on_text " << text << u"\n";
    m_form.screen().on_text(text);
}

void FirstScreen::set_size(Size size)
{
    Screen::set_size(size);
    m_form.screen().set_size(size);
}

void FirstScreen::on_command_line(WStringView text)
{
    Log::get() << u"FirstScreen::on_command_line [" << text << u"]\n";
}

void FirstScreen::on_resize()
{
    Log::get() << u"FirstScreen::on_resize\n";
    m_form.invalidate_drawing();
}

}
