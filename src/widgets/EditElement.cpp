#include "widgets/EditElement.h"

#include "widgets/ScreenHost.h"
#include "imaging/PixelRules.h"
#include "skin/SkinErrors.h"
#include "widgets/Form.h"

#include <algorithm>

namespace qv {

namespace {

// The window keeps one focused field.
EditElement* g_focused = nullptr;

constexpr double kBlinkSeconds = 0.5;

bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// One character back or on; a surrogate pair is one character, never split.
std::size_t previous_index(WStringView text, std::size_t i)
{
    if (i == 0)
        return 0;
    if (i >= 2 && is_low_surrogate(text[i - 1]) && is_high_surrogate(text[i - 2]))
        return i - 2;
    return i - 1;
}

std::size_t next_index(WStringView text, std::size_t i)
{
    if (i >= text.size())
        return text.size();
    if (i + 1 < text.size() && is_high_surrogate(text[i]) && is_low_surrogate(text[i + 1]))
        return i + 2;
    return i + 1;
}

}

EditElement::EditElement(Element* parent)
    : TextElement(parent)
{
    m_place_all = true;
    if (root())
        root()->register_interactive(this);
}

EditElement::~EditElement()
{
    if (g_focused == this) {
        g_focused = nullptr;
        if (auto* app = ScreenHost::instance(); app && app->edit_receiver() == &m_receiver)
            app->begin_edit(nullptr);
    }
}

void EditElement::load(PropertiesImpl const& store, SkinNode node)
{
    TextElement::load(store, node);
    m_background_color = store.get_color(node, u"background_color", SkinColor {});
    m_caret = std::min(m_caret, m_text.size());
}

EditElement* EditElement::focused_field() { return g_focused; }

bool EditElement::focused() const { return g_focused == this; }

void EditElement::focus()
{
    if (g_focused == this)
        return;
    if (g_focused)
        g_focused->release_focus();
    g_focused = this;
    if (auto* app = ScreenHost::instance())
        app->begin_edit(&m_receiver);
    caret_moved();
}

void EditElement::release_focus()
{
    if (g_focused != this)
        return;
    g_focused = nullptr;
    if (auto* app = ScreenHost::instance(); app && app->edit_receiver() == &m_receiver)
        app->begin_edit(nullptr);
    invalidate_drawing();
}

void EditElement::on_visibility_changed(bool shown)
{
    TextElement::on_visibility_changed(shown);
    if (!shown)
        release_focus();
}

void EditElement::advance(double seconds)
{
    TextElement::advance(seconds);
    if (!focused())
        return;
    m_blink += seconds;
    if (m_blink >= kBlinkSeconds) {
        // A long frame toggles once; the caret never skips a state unseen.
        m_blink = std::min(m_blink - kBlinkSeconds, kBlinkSeconds);
        m_caret_visible = !m_caret_visible;
        invalidate_drawing();
    }
}

void EditElement::set_caret(std::size_t index)
{
    m_caret = std::min(index, m_text.size());
    caret_moved();
}

void EditElement::caret_moved()
{
    m_caret_visible = true;
    m_blink = 0.0;
    update_scroll();
    invalidate_drawing();
}

void EditElement::insert(WStringView text)
{
    if (text.empty())
        return;
    m_caret = std::min(m_caret, m_text.size());
    WString updated = m_text;
    updated.insert(m_caret, text);
    m_caret += text.size();
    set_text(updated);
    caret_moved();
}

bool EditElement::on_text(WStringView text)
{
    if (!focused())
        return false;
    insert(text);
    return true;
}

bool EditElement::on_key(KeyInput const& key) { return focused() && handle_key(key); }

bool EditElement::handle_key(KeyInput const& key)
{
    if (!key.down)
        return false;
    m_caret = std::min(m_caret, m_text.size());
    m_caret_visible = true;
    m_blink = 0.0;
    invalidate_drawing();
    switch (key.key) {
    case Key::Backspace: {
        if (m_text.empty())
            return false;
        if (m_caret > 0) {
            auto const from = previous_index(m_text, m_caret);
            WString updated = m_text;
            updated.erase(from, m_caret - from);
            m_caret = from;
            set_text(updated);
            caret_moved();
        }
        return true;
    }
    case Key::Enter:
        insert(u"\n");
        return true;
    case Key::Left:
        m_caret = previous_index(m_text, m_caret);
        caret_moved();
        return true;
    case Key::Right:
        m_caret = next_index(m_text, m_caret);
        caret_moved();
        return true;
    case Key::Up:
    case Key::Down: {
        if (!m_wrap)
            return false;
        auto const all = places();
        auto const here = all[m_caret];
        if (key.key == Key::Up ? here.line > 0 : here.line + 1 < line_count()) {
            auto const line = key.key == Key::Up ? here.line - 1 : here.line + 1;
            if (auto index = closest_on_line(all, line, here.x))
                m_caret = *index;
        }
        caret_moved();
        return true;
    }
    default:
        return false;
    }
}

bool EditElement::on_pointer_button(PointerEvent const& event)
{
    if (!event.down)
        return true;
    focus();
    // The caret goes to the character nearest the tap on the tapped line.
    auto const tops = line_tops();
    auto const y = event.position.y - m_position.y;
    std::size_t line = 0;
    while (line + 1 < line_count() && line + 1 < tops.size() && y >= tops[line + 1])
        ++line;
    if (auto index = closest_on_line(places(), line, event.position.x - m_position.x))
        m_caret = *index;
    caret_moved();
    return true;
}

std::vector<CaretPlace> EditElement::places() const
{
    auto const prepared = prepare_text(m_text, m_wrap);
    auto const all = caret_places(prepared, m_lines, [this](WStringView t) { return measure_run(t); });
    auto const tops = line_tops();
    std::vector<CaretPlace> result;
    result.reserve(m_text.size() + 1);
    for (std::size_t i = 0; i <= m_text.size(); ++i) {
        auto place = all[prepared_index(m_text, i)];
        static FlowLine const empty_line;
        FlowLine const& line = place.line < m_lines.size() ? m_lines[place.line] : empty_line;
        place.x += line_left(line, tops[std::min(place.line, tops.size() - 1)]);
        result.push_back(place);
    }
    return result;
}

std::size_t EditElement::line_count() const
{
    // A final line break opens a line of its own for the caret.
    bool const open_line = !m_text.empty() && m_text.back() == u'\n' && m_wrap;
    return std::max<std::size_t>(1, m_lines.size() + (open_line ? 1 : 0));
}

std::vector<std::int32_t> EditElement::line_tops() const
{
    std::vector<std::int32_t> tops;
    if (m_lines.empty()) {
        // The caret of an empty field stands where one line would.
        auto const height = m_font->line_height();
        auto const under = m_size.height - height;
        auto top = under <= 0 ? 0 : m_valign == VAlign::Bottom ? under : m_valign == VAlign::VCenter ? (under + 1) / 2 : 0;
        tops.push_back(top);
        return tops;
    }
    std::int32_t y = block_top();
    for (auto const& line : m_lines) {
        tops.push_back(y);
        y += line.height;
    }
    tops.push_back(y);
    return tops;
}

Rect EditElement::caret_rect() const
{
    auto const all = places();
    auto const place = all[std::min(m_caret, m_text.size())];
    auto const tops = line_tops();
    auto const top = tops[std::min(place.line, tops.size() - 1)];
    auto const height = place.line < m_lines.size() ? m_lines[place.line].height : m_font->line_height();
    // A caret just past the right edge stays on the last column.
    auto const x = std::clamp(place.x, 0, std::max(0, m_size.width - 1));
    return Rect { x, top, x + 1, top + height };
}

void EditElement::update_scroll()
{
    if (m_wrap) {
        m_scroll_x = 0;
        return;
    }
    auto const old = m_scroll_x;
    m_caret = std::min(m_caret, m_text.size());
    auto const text_width = m_lines.empty() ? 0 : m_lines.front().width;
    auto const available = m_size.width - sides_at(0);
    // The caret's place with no scroll, the scroll applied afterwards.
    m_scroll_x = 0;
    auto const caret_x = places()[m_caret].x;
    m_scroll_x = keep_caret_in_view(old, caret_x, text_width, available);
    if (m_scroll_x != old)
        invalidate_drawing();
}

void EditElement::on_text_flowed()
{
    m_caret = std::min(m_caret, m_text.size());
    update_scroll();
}

void EditElement::draw(DrawTarget& target, Point origin)
{
    fill_rect(target, origin.x, origin.y, m_size.width, m_size.height,
        ColourFillOp(pack_rgb565(m_background_color.red, m_background_color.green, m_background_color.blue)));
    TextElement::draw(target, origin);
    if (focused() && m_caret_visible) {
        auto const caret = caret_rect();
        ClipScope clip(target, Rect { origin.x, origin.y, origin.x + m_size.width, origin.y + m_size.height });
        fill_rect(target, origin.x + caret.left, origin.y + caret.top, caret.width(), caret.height(),
            ColourFillOp(pack_rgb565(m_color.red, m_color.green, m_color.blue)));
    }
}

void LabelEdit::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_edit = find_child(u"#edit");
    if (!m_edit)
        throw NodeNotFound(m_id, u"#edit");
    m_edit->set_observer(this);
    m_edit->set_handler(this);
    m_label = find_child(u"#text");
    if (!m_label)
        throw NodeNotFound(m_id, u"#text");
    m_label->set_observer(nullptr);
}

void LabelEdit::remove_child(Element* child)
{
    if (child == m_edit)
        m_edit = nullptr;
    if (child == m_label)
        m_label = nullptr;
    Element::remove_child(child);
}

}
