// quilvane-skin-preview: a sheet of the program's screens, drawn from the
// compiled skin beside it by the toolkit's own elements, to judge the
// skin's look without starting the program.
//
//   quilvane-skin-preview OUT.png [--dpi DPI] [--language NAME] [--landscape]
//
// Each screen is a form loaded from its skin node and drawn through the
// shell's screen stack, as the program draws it: the album list while it
// searches, the empty album list, an album's thumbnails, the viewer, the
// main menu, the exit menu over the album list, the About page and the
// splash screen. Made-up photos stand in for pictures and thumbnails; no
// picture file or cache is read. DPI 96 (the default) draws 240 x 320
// screens; higher densities grow them in quarter steps (192 doubles them).
// Exit code 0 when the sheet is written, 1 with a message on standard error
// otherwise, 2 for a mistake in the arguments.

#include "StandardOptions.h"
#include "base/Language.h"
#include "base/Paths.h"
#include "imaging/PixelOp.h"
#include "imaging/PngImage.h"
#include "imaging/RenderSurface.h"
#include "platform/Files.h"
#include "screens/FolderForm.h"
#include "screens/ScreenForm.h"
#include "screens/MaskedThumbnail.h"
#include "shell/ScreenStack.h"
#include "skin/Properties.h"
#include "skin/SkinErrors.h"
#include "widgets/ImageElement.h"
#include "widgets/Menu.h"
#include "widgets/ProgressElement.h"
#include "widgets/TileGeometry.h"
#include "widgets/TileView.h"
#include "widgets/VirtualList.h"
#include "widgets/WidgetTypes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace qv;

namespace {

struct Options {
    std::string out;
    std::int32_t dpi { 96 };
    std::string language { "english" };
    bool landscape { false };
};

std::optional<Options> parse_options(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string const arg = argv[i];
        bool const has_value = i + 1 < argc;
        if (arg == "--dpi" && has_value)
            options.dpi = std::atoi(argv[++i]);
        else if (arg == "--language" && has_value)
            options.language = argv[++i];
        else if (arg == "--landscape")
            options.landscape = true;
        else if (options.out.empty() && !arg.starts_with("--"))
            options.out = arg;
        else
            return std::nullopt;
    }
    if (options.out.empty() || options.dpi <= 0)
        return std::nullopt;
    return options;
}

std::uint16_t rgb565(int red, int green, int blue)
{
    return static_cast<std::uint16_t>((std::clamp(red, 0, 255) >> 3) << 11 | (std::clamp(green, 0, 255) >> 2) << 5
        | std::clamp(blue, 0, 255) >> 3);
}

// A made-up landscape, sky over hills, at (u, v) of the picture (0 to 1);
// the seed varies the hills and their colours.
std::uint16_t photo_pixel(double u, double v, int seed)
{
    bool const sky = v < 0.55 + 0.1 * std::sin(u * 6 + seed);
    if (sky)
        return rgb565(int(120 + 100 * v), int(170 + 60 * v), int(230 - 20 * u));
    return rgb565(int(60 + 40 * u + seed * 20), int(110 + 30 * v), 50 + seed * 15);
}

std::unique_ptr<PixelBuffer> made_up_photo(Size size, int seed)
{
    auto buffer = PixelBuffer::create(size.width, size.height);
    if (!buffer)
        throw std::runtime_error("out of memory");
    for (std::int32_t y = 0; y < size.height; ++y)
        for (std::int32_t x = 0; x < size.width; ++x)
            buffer->at(x, y) = photo_pixel(double(x) / size.width, double(y) / size.height, seed);
    return buffer;
}

// A thumbnail as the browsing screens make one: the photo stretched to the
// cell with the mask drawn over it.
PictureRef masked_photo(Size size, PictureRef const& mask, int seed)
{
    RenderSurface surface(size);
    if (!surface.buffer())
        throw std::runtime_error("out of memory");
    auto const photo = made_up_photo(Size { 64, 64 }, seed);
    stretch_rect(surface.target(), 0, 0, size.width, size.height, *photo, 0, 0, 64, 64, copy_op());
    static ThumbnailMaskOp const mask_op;
    mask.draw(surface.target(), Point { 0, 0 }, size, mask_op);
    PictureRef result;
    picture_from_buffer(result, surface.release());
    return result;
}

Element& require(Element& form, WStringView id)
{
    Element* element = form.find_child(id);
    if (!element)
        throw std::runtime_error("the skin lacks the element " + to_utf8(id));
    return *element;
}

template<typename T>
T& require(Element& form, WStringView id)
{
    auto* element = dynamic_cast<T*>(&require(form, id));
    if (!element)
        throw std::runtime_error("the element " + to_utf8(id) + " is of another type");
    return *element;
}

void load(Form& form, PropertiesImpl const& store, WStringView node)
{
    if (!form.load_form(store, node))
        throw NodeNotFoundInSkin(WString(node));
}

// List rows built from a skin template, at every bind, by the screen that
// shows them; the binder lays the row out at the list's width.
class Rows final : public ListProvider {
public:
    using Binder = std::function<void(ListItem& row, VirtualList& list, std::int32_t index)>;

    explicit Rows(Binder binder)
        : m_binder(std::move(binder))
    {
    }

    void on_item_clicked(VirtualList&, std::int32_t) override { }
    ListItem* create_item(VirtualList&, std::int32_t) override { return new Row(*this); }

private:
    class Row final : public ListItem {
    public:
        explicit Row(Rows& rows)
            : m_rows(rows)
        {
        }
        void bind(VirtualList& list, bool, bool) override { m_rows.m_binder(*this, list, index()); }

    private:
        Rows& m_rows;
    };

    Binder m_binder;
};

// Tiles of a made-up photo for the viewer's picture element, cut from the
// photo at each level as the cache files hold them.
class PhotoTiles final : public TileListener {
public:
    static constexpr int kTile = 256;

    PhotoTiles(int width, int height)
        : m_width(width)
        , m_height(height)
    {
    }

    int width() const { return m_width; }
    int height() const { return m_height; }

    void add_tile(TileView&, int level, int column, int row) override { m_asked.push_back({ level, column, row }); }

    // The tiles asked for since the last call; true when there were any.
    bool deliver(TileView& view)
    {
        auto asked = std::exchange(m_asked, {});
        int const top = tile_top_level(kTile, kTile, m_width, m_height);
        for (auto const& [level, column, row] : asked) {
            auto surface = std::make_unique<RenderSurface>(Size { kTile, kTile });
            if (!surface->buffer())
                throw std::runtime_error("out of memory");
            int const level_width = level_extent(m_width, top, level);
            int const level_height = level_extent(m_height, top, level);
            for (int y = 0; y < kTile; ++y) {
                for (int x = 0; x < kTile; ++x) {
                    int const px = column * kTile + x, py = row * kTile + y;
                    bool const inside = px < level_width && py < level_height;
                    surface->buffer()->at(x, y)
                        = inside ? photo_pixel(double(px) / level_width, double(py) / level_height, 0) : 0;
                }
            }
            view.put_piece(level, column, row, std::move(surface));
        }
        return !asked.empty();
    }

private:
    struct Asked {
        int level, column, row;
    };
    int m_width;
    int m_height;
    std::vector<Asked> m_asked;
};

// Draws the stack as the program's frames do until its effects, dimming and
// list heights have settled; `between` runs after every frame.
std::unique_ptr<PixelBuffer> settle(ScreenStack& stack, Size size, std::function<void()> const& between = {})
{
    auto buffer = PixelBuffer::create(size.width, size.height);
    if (!buffer)
        throw std::runtime_error("out of memory");
    DrawTarget target(buffer.get());
    for (int frame = 0; frame < 60; ++frame) {
        stack.advance(0.05, size);
        stack.draw(target, size);
        if (between)
            between();
    }
    return buffer;
}

std::unique_ptr<PixelBuffer> one_form(Properties& store, Size size, WStringView node)
{
    Form form;
    load(form, store, node);
    ScreenStack stack;
    stack.push(&form.screen(), false, size);
    return settle(stack, size);
}

class Screens {
public:
    Screens(Properties& store, Size size, std::int32_t dpi)
        : m_store(store)
        , m_size(size)
        , m_grid(thumbnail_grid(size.width, dpi))
    {
    }

    std::unique_ptr<PixelBuffer> album_list(bool searching);
    std::unique_ptr<PixelBuffer> thumbnails();
    std::unique_ptr<PixelBuffer> viewer();
    std::unique_ptr<PixelBuffer> exit_menu();
    std::unique_ptr<PixelBuffer> plain(WStringView node) { return one_form(m_store, m_size, node); }

private:
    void build_album_list(Form& form, Rows* rows);
    void bind_album(ListItem& row, VirtualList& list, std::int32_t index);
    void bind_thumbnails(ListItem& row, VirtualList& list, std::int32_t index, Form& folder);

    Properties& m_store;
    Size m_size;
    ThumbnailGrid m_grid;
};

void Screens::build_album_list(Form& form, Rows* rows)
{
    load(form, m_store, u"Main");
    show_text(require(form, u"warning_text"), m_store.text(u"WARNING_MESSAGE"));
    require(form, u"warning_image").set_visible(rows == nullptr);
    require(form, u"warning_text").set_visible(rows == nullptr);
    auto& progress = require<ProgressElement>(form, u"progress");
    progress.set_value(0.6);
    progress.set_visible(rows != nullptr);
    require<VirtualList>(form, u"listApps").set_provider(rows, rows ? 3 : 0);
}

void place_row(ListItem& row, VirtualList& list)
{
    row.set_visible(true);
    row.place(Size { list.size().width, row.height_pair().preferred });
}

void Screens::bind_album(ListItem& row, VirtualList& list, std::int32_t index)
{
    static char16_t const* const names[] = { u"Holidays 2026", u"Camera", u"Screenshots" };
    static char16_t const* const counts[] = { u"214", u"1 387", u"12" };
    load(row, m_store, u"AlbumElement");
    require(row, u"loading").set_visible(false);
    require(row, u"bad").set_visible(false);
    show_text(require(row, u"name"), names[index % 3]);
    show_text(require(row, u"count"), counts[index % 3]);
    // As the album list does: the thumbnail is made at the size the row
    // gives its picture, whose own skin picture is the mask.
    place_row(row, list);
    auto& image = require<ImageElement>(row, u"image");
    image.set_picture(masked_photo(image.size(), image.picture(), index));
}

std::unique_ptr<PixelBuffer> Screens::album_list(bool searching)
{
    Rows rows([this](ListItem& row, VirtualList& list, std::int32_t index) { bind_album(row, list, index); });
    Form form;
    build_album_list(form, searching ? &rows : nullptr);
    ScreenStack stack;
    stack.push(&form.screen(), false, m_size);
    return settle(stack, m_size);
}

void Screens::bind_thumbnails(ListItem& row, VirtualList& list, std::int32_t index, Form& folder)
{
    load(row, m_store, u"FolderElement");
    PictureRef const mask = require<ImageElement>(folder, u"bad").picture();
    PictureRef const loading = require<ImageElement>(folder, u"loading").picture();
    Size const cell { m_grid.thumbnail_side, m_grid.thumbnail_side };
    // The skin's own cells only: the screen adds copies for wider grids.
    int skin_cells = 0;
    while (row.find_child(u"button" + to_wstring(skin_cells)))
        ++skin_cells;
    int const columns = std::min(m_grid.columns, skin_cells);
    for (int i = 0; i < skin_cells; ++i) {
        auto& button = require(row, u"button" + to_wstring(i));
        button.set_visible(i < columns);
        int const n = index * columns + i;
        auto& image = require<ImageElement>(button, u"image");
        // One cell still loading, one picture that cannot be shown.
        image.set_picture(n == 6 ? loading : n == 9 ? mask : masked_photo(cell, mask, n % 5));
    }
    place_row(row, list);
}

std::unique_ptr<PixelBuffer> Screens::thumbnails()
{
    Form folder;
    Rows rows([&](ListItem& row, VirtualList& list, std::int32_t index) { bind_thumbnails(row, list, index, folder); });
    load(folder, m_store, u"Folder");
    show_text(require(folder, u"btnText"), u"Holidays 2026");
    require(folder, u"bad").set_visible(false);
    require(folder, u"loading").set_visible(false);
    require<ProgressElement>(folder, u"progress").set_value(0.6);
    require<VirtualList>(folder, u"listFolder").set_provider(&rows, 4);
    ScreenStack stack;
    stack.push(&folder.screen(), false, m_size);
    return settle(stack, m_size);
}

std::unique_ptr<PixelBuffer> Screens::viewer()
{
    Form form;
    load(form, m_store, u"Image");
    show_text(require(form, u"btnNumText"), u"3 " + m_store.text(u"of") + u" 214");
    require(form, u"btnLog2").set_visible(false);
    require(form, u"left").set_visible(false);
    require(form, u"right").set_visible(false);
    ScreenStack stack;
    stack.push(&form.screen(), false, m_size);
    auto& view = require<TileView>(form, u"center");
    PhotoTiles tiles(2048, 1536);
    view.set_tile_listener(&tiles);
    int const top = tile_top_level(PhotoTiles::kTile, PhotoTiles::kTile, tiles.width(), tiles.height());
    view.set_picture(PhotoTiles::kTile, PhotoTiles::kTile, tiles.width(), tiles.height(),
        fit_zoom(tiles.width(), tiles.height(), top, view.size().width, view.size().height));
    view.request_visible();
    tiles.deliver(view);
    auto picture = settle(stack, m_size, [&] { tiles.deliver(view); });
    view.set_tile_listener(nullptr);
    return picture;
}

// The exit menu's rows, as the album list offers them.
class ExitMenu final : public MenuSource {
public:
    void get_items(MenuScreen&, WStringView, WString&, std::vector<MenuItem>& items) override
    {
        items = { menu_item(u"Language"), menu_item(u"Help"), menu_item(u"ReallyExit", u"MenuElementRed"),
            menu_item(u"Cancel", u"MenuElementCancel") };
        items[0].checked = true;
        items[1].enabled = false;
        items[1].separator = true;
        items[2].separator = true;
    }
};

std::unique_ptr<PixelBuffer> Screens::exit_menu()
{
    Form album_list;
    build_album_list(album_list, nullptr);
    require(album_list, u"warning_image").set_visible(false);
    require(album_list, u"warning_text").set_visible(false);
    ExitMenu source;
    MenuScreen menu;
    menu.bind(m_store, u"MenuPanel");
    menu.set_source(&source);
    menu.set_default_template(u"MenuElement");
    ScreenStack stack;
    stack.push(&album_list.screen(), false, m_size);
    menu.show_menu(u"Exit", m_store.text(u"ExitCaption"), false);
    stack.push(&menu.screen(), true, m_size);
    return settle(stack, m_size);
}

// The screens side by side, four to a row, on grey.
std::unique_ptr<PixelBuffer> sheet(std::vector<std::unique_ptr<PixelBuffer>> const& screens, Size size, int gap)
{
    std::int32_t const columns = 4;
    std::int32_t const rows = (static_cast<std::int32_t>(screens.size()) + columns - 1) / columns;
    auto result = PixelBuffer::create(columns * (size.width + gap) + gap, rows * (size.height + gap) + gap);
    if (!result)
        throw std::runtime_error("out of memory");
    DrawTarget target(result.get());
    fill_rect(target, 0, 0, result->width(), result->height(), ColourFillOp(0x8410));
    for (std::size_t i = 0; i < screens.size(); ++i) {
        std::int32_t const x = gap + static_cast<std::int32_t>(i % columns) * (size.width + gap);
        std::int32_t const y = gap + static_cast<std::int32_t>(i / columns) * (size.height + gap);
        copy_rect(target, x, y, size.width, size.height, *screens[i], 0, 0, copy_op());
    }
    return result;
}

int draw_sheet(Options const& options)
{
    // The design screen at the density asked for.
    std::int32_t const quarters = scale_quarters_for_dpi(options.dpi);
    Size const size { scale_length(options.landscape ? 320 : 240, quarters),
        scale_length(options.landscape ? 240 : 320, quarters) };
    WidgetTypes types;
    Properties store;
    WString const language = from_utf8(options.language);
    if (!store.language().load(language_file_path(language))) {
        std::fprintf(stderr, "quilvane-skin-preview: no language file %s\n",
            platform::to_system_path(expand_path(language_file_path(language))).c_str());
        return 1;
    }
    WString const skin = u"%app_path%\\skins\\bin\\default.skin";
    if (!store.load_skin(skin, DisplayInfo { size.width, size.height, options.dpi })) {
        std::fprintf(stderr, "quilvane-skin-preview: no skin at %s\n", platform::to_system_path(expand_path(skin)).c_str());
        return 1;
    }
    Screens screens(store, size, options.dpi);
    std::vector<std::unique_ptr<PixelBuffer>> drawn;
    drawn.push_back(screens.album_list(true));
    drawn.push_back(screens.album_list(false));
    drawn.push_back(screens.thumbnails());
    drawn.push_back(screens.viewer());
    drawn.push_back(screens.plain(u"MenuForm"));
    drawn.push_back(screens.exit_menu());
    drawn.push_back(screens.plain(u"AboutForm"));
    drawn.push_back(screens.plain(u"Splash"));
    if (!save_png(*sheet(drawn, size, store.scale_length(8)), from_utf8(options.out))) {
        std::fprintf(stderr, "quilvane-skin-preview: cannot write %s\n", options.out.c_str());
        return 1;
    }
    return 0;
}

}

int main(int argc, char** argv)
{
    constexpr char const* kUsage = "usage: quilvane-skin-preview OUT.png [--dpi DPI] [--language NAME] [--landscape]\n"
                                   "  draws the main screens of the installed skin into one PNG sheet\n";
    if (auto const status
        = tools::standard_options(argc, argv, "quilvane-skin-preview", kUsage, { "--dpi", "--language", "--landscape" }))
        return *status;
    auto const options = parse_options(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        return draw_sheet(*options);
    } catch (SkinError const& error) {
        std::fprintf(stderr, "quilvane-skin-preview: %s\n", error.what());
    } catch (std::exception const& error) {
        std::fprintf(stderr, "quilvane-skin-preview: %s\n", error.what());
    }
    return 1;
}
