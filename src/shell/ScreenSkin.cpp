#include "shell/ScreenSkin.h"

#include "base/Log.h"
#include "imaging/PixelOp.h"
#include "skin/Layout.h"
#include "skin/SkinErrors.h"
#include "skin/TextDrawing.h"

namespace qv {

namespace {

std::uint16_t to_565(SkinColor c)
{
    return static_cast<std::uint16_t>(((c.red >> 3) << 11) | ((c.green >> 2) << 5) | (c.blue >> 3));
}

}

SkinScreen::SkinScreen(Properties& properties, WStringView form)
    : m_properties(properties)
    , m_form(properties.find_node(form))
{
    if (!m_form)
        throw NodeNotFoundInSkin(WString(form));
    static WString const none;
    for (std::uint16_t i = 0; i < properties.child_count(m_form); ++i) {
        SkinNode const node = properties.child(m_form, i);
        WString const& type = properties.get_string(node, u"type", none);
        if (type == u"color")
            m_parts.push_back({ Part::Kind::Colour, node, {} });
        else if (type == u"image")
            m_parts.push_back({ Part::Kind::Image, node, {} });
        else if (type == u"text")
            m_parts.push_back({ Part::Kind::Text, node, {} });
    }
}

void SkinScreen::set_size(Size size)
{
    if (size == this->size())
        return;
    Screen::set_size(size);
    place();
    m_dirty = true;
}

void SkinScreen::place()
{
    static WString const none;
    for (Part& part : m_parts) {
        Point const border_min = m_properties.get_point(part.node, u"border_min", {});
        Point const border_max = m_properties.get_point(part.node, u"border_max", {});
        Point const design = m_properties.get_point(part.node, u"design_size", {});
        auto axis = [&](WStringView key, std::int32_t bmin, std::int32_t bmax, std::int32_t want, std::int32_t slot) {
            AxisChild child;
            child.mode = anchor_from_name(m_properties.get_string(part.node, key, none));
            child.border_min = bmin;
            child.border_max = bmax;
            child.pair = { want, want };
            return place_in_slot(child, want, slot);
        };
        Placement const x = axis(u"anchor_x", border_min.x, border_max.x, design.x, size().width);
        Placement const y = axis(u"anchor_y", border_min.y, border_max.y, design.y, size().height);
        part.box = Rect { x.start, y.start, x.start + x.size, y.start + y.size };
    }
}

void SkinScreen::draw(DrawTarget& target, Point origin)
{
    static WString const none;
    m_dirty = false;
    ColourFillOp const outside(to_565(m_properties.get_color(m_form, u"outside_color", {})));
    fill_rect(target, origin.x, origin.y, size().width, size().height, outside);
    for (Part const& part : m_parts) {
        Point const at { origin.x + part.box.left, origin.y + part.box.top };
        Size const box { part.box.width(), part.box.height() };
        switch (part.kind) {
        case Part::Kind::Colour: {
            ColourFillOp const fill(to_565(m_properties.get_color(part.node, u"color", {})));
            fill_rect(target, at.x, at.y, box.width, box.height, fill);
            break;
        }
        case Part::Kind::Image: {
            PictureRef const picture = m_properties.get_picture(part.node, u"src", PictureRef {});
            bool const keyed = m_properties.get_integer(part.node, u"alpha", 255) == 0;
            picture.draw(target, at, box, keyed ? key_copy_op() : copy_op());
            break;
        }
        case Part::Kind::Text: {
            FontHandle const& font = m_properties.get_font(part.node, u"font", empty_font());
            SkinColor const c = m_properties.get_color(part.node, u"color", SkinColor { 255, 255, 255, 255 });
            WString const& key = m_properties.get_string(part.node, u"text", none);
            HAlign const halign = halign_from_name(m_properties.get_string(part.node, u"halign", none));
            if (font)
                draw_text(*font, target, TextColour { c.red, c.green, c.blue }, m_properties.text(key), at, box, halign,
                    VAlign::VCenter, TextWrap::SingleLine);
            break;
        }
        }
    }
}

FirstScreen::FirstScreen(Properties& properties)
    : SkinScreen(properties, u"Main")
{
}

void FirstScreen::draw(DrawTarget& target, Point origin)
{
    SkinScreen::draw(target, origin);
    if (m_mark.x >= 0) {
        // The accent colour of the skin, in a square around the touch.
        std::int32_t const side = 16;
        ColourFillOp const accent(static_cast<std::uint16_t>(((76 >> 3) << 11) | ((166 >> 2) << 5) | (232 >> 3)));
        fill_rect(target, origin.x + m_mark.x - side / 2, origin.y + m_mark.y - side / 2, side, side, accent);
    }
}

void FirstScreen::on_pointer_button(Point point, bool pressed, bool has_position, std::uint32_t)
{
    Log::get() << u"FirstScreen::on_pointer_button " << (pressed ? u"down " : u"up ") << point.x << u","
               << point.y << (has_position ? u"\n" : u" nowhere\n");
    if (pressed) {
        m_mark = point;
        mark_dirty();
    }
}

bool FirstScreen::on_key(KeyInput const& key)
{
    Log::get() << u"FirstScreen::on_key " << key.key << (key.down ? u" down" : u" up")
               << (key.first ? u" first\n" : u" repeat\n");
    return false;
}

void FirstScreen::on_text(WStringView text) { Log::get() << u"FirstScreen::on_text " << text << u"\n"; }

void FirstScreen::on_command_line(WStringView text)
{
    Log::get() << u"FirstScreen::on_command_line [" << text << u"]\n";
}

void FirstScreen::on_resize()
{
    Log::get() << u"FirstScreen::on_resize\n";
    mark_dirty();
}

}
