// The thumbnail page's grid and its rows: how many cells a width and a
// density give, and the row element that shows a row's cells.

#include "screens/FolderForm.h"

#include "skin/ElementRegistry.h"

#include <algorithm>
#include <cmath>

namespace qv {

int millimetres_to_pixels(double millimetres, int dpi)
{
    return static_cast<int>(std::lround(millimetres * dpi / 25.4));
}

ThumbnailGrid thumbnail_grid(std::int32_t width, std::int32_t dpi)
{
    ThumbnailGrid grid;
    grid.width = std::max(width, 0);
    grid.margin = millimetres_to_pixels(kThumbnailMarginMm, dpi);
    int const cell = std::max(1, millimetres_to_pixels(kThumbnailCellMm, dpi));
    grid.cell_height = cell;
    grid.thumbnail_side = std::max(1, millimetres_to_pixels(kThumbnailMm, dpi));
    grid.columns = std::max(1, (grid.width - 2 * grid.margin) / cell);
    return grid;
}

FolderElement::FolderElement(FolderForm& form, std::int32_t row)
    : m_form(form)
    , m_row(row)
{
}

void FolderElement::make_cells()
{
    auto const& store = m_form.store();
    if (!load_form(store, u"FolderElement"))
        throw NodeNotFoundInSkin(u"FolderElement");
    m_buttons.clear();
    m_images.clear();
    auto add = [this](ButtonElement* button, WString const& id) {
        auto* image = dynamic_cast<ImageElement*>(button->find_child(u"image"));
        if (!image)
            throw NodeNotFound(id, u"image");
        button->set_observer(this);
        button->set_handler(this);
        m_buttons.push_back(button);
        m_images.push_back(image);
    };
    for (int i = 0;; ++i) {
        WString const id = u"button" + to_wstring(i);
        auto* button = dynamic_cast<ButtonElement*>(find_child(id));
        if (!button) {
            if (i == 0)
                throw NodeNotFound(u"FolderElement", id);
            break;
        }
        add(button, id);
    }
    // Columns beyond the skin's are copies of its first cell.
    int const columns = m_form.columns();
    if (static_cast<int>(m_buttons.size()) >= columns)
        return;
    SkinNode const form_node = store.find_node(u"FolderElement");
    SkinNode first = nullptr;
    for (std::uint16_t i = 0; i < store.child_count(form_node) && !first; ++i)
        if (store.get_string(store.child(form_node, i), u"id", WString()) == u"button0")
            first = store.child(form_node, i);
    if (!first)
        throw NodeNotFound(u"FolderElement", u"button0");
    while (static_cast<int>(m_buttons.size()) < columns) {
        auto* button = dynamic_cast<ButtonElement*>(create_element(store.get_string(first, u"type", WString()), this));
        if (!button)
            throw NodeNotFound(u"FolderElement", u"button0");
        button->load(store, first);
        add(button, u"button0");
    }
}

void FolderElement::bind(VirtualList&, bool, bool fresh)
{
    if (fresh || m_buttons.empty())
        make_cells();
    auto const count = static_cast<std::int32_t>(m_form.pictures().size());
    int const columns = m_form.columns();
    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        auto const column = static_cast<int>(i);
        std::int32_t const index = m_row * columns + column;
        bool const used = column < columns;
        m_buttons[i]->set_visible(used);
        if (!used)
            continue;
        bool const has_picture = index < count;
        m_images[i]->set_visible(has_picture);
        m_buttons[i]->set_enabled(has_picture);
        if (has_picture)
            m_images[i]->set_picture(m_form.cell_picture(static_cast<std::size_t>(index)));
    }
}

bool FolderElement::on_click(Element& source, Point)
{
    for (std::size_t i = 0; i < m_buttons.size(); ++i)
        if (&source == m_buttons[i])
            m_form.on_cell_click(m_row, static_cast<int>(i));
    return true;
}

void FolderElement::layout_horizontal()
{
    Element::layout_horizontal();
    ThumbnailGrid const& grid = m_form.grid();
    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        auto const column = static_cast<int>(i);
        if (column >= grid.columns)
            continue;
        int const left = m_position.x + grid.cell_left(column);
        int const width = grid.cell_width(column);
        int const side = std::min(grid.thumbnail_side, width);
        m_buttons[i]->set_horizontal(left, width);
        m_images[i]->set_horizontal(left + (width - side) / 2, side);
    }
}

void FolderElement::layout_vertical()
{
    Element::layout_vertical();
    ThumbnailGrid const& grid = m_form.grid();
    int const side = std::min(grid.thumbnail_side, grid.cell_height);
    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        if (static_cast<int>(i) >= grid.columns)
            continue;
        m_buttons[i]->set_vertical(m_position.y, grid.cell_height);
        m_images[i]->set_vertical(m_position.y + (grid.cell_height - side) / 2, side);
    }
}

void FolderElement::measure_height(MeasurePair& pair)
{
    pair.preferred = m_form.grid().cell_height;
    pair.minimum = pair.preferred;
}

Rect FolderElement::cell_rect(std::int32_t column) const
{
    if (column < 0 || column >= static_cast<std::int32_t>(m_buttons.size()))
        return ListItem::cell_rect(column);
    auto const* button = m_buttons[static_cast<std::size_t>(column)];
    return Rect { button->position().x, button->position().y, button->position().x + button->size().width,
        button->position().y + button->size().height };
}

ImageElement* FolderElement::cell_image(int column) const
{
    if (column < 0 || column >= static_cast<int>(m_buttons.size()))
        return nullptr;
    auto const i = static_cast<std::size_t>(column);
    if (!m_buttons[i]->visible() || !m_images[i]->visible())
        return nullptr;
    return m_images[i];
}

}
