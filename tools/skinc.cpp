// The skin compiler: turns a skin source and its picture sources (SVG, PNG
// or 16-bit BMP) into the binary skin file and its 16-bit BMP pictures.
//
//   skinc SOURCE.skin.txt PICTURE_DIR OUT_DIR
//
// writes OUT_DIR/<SOURCE base name>.skin and OUT_DIR/<picture>.bmp. A
// picture drawn as SVG is also rendered at each higher density the loader
// knows (see imaging/Density.h) as OUT_DIR/<picture>@1.5x.bmp, @2x, @3x, @4x
// and @6x, each scale_length of the plain picture's size, so that a screen
// of any density draws from a picture at least as fine as its own pixels.

#include "StandardOptions.h"
#include "imaging/BmpWriter.h"
#include "imaging/Density.h"
#include "imaging/Picture.h"
#include "imaging/PngImage.h"
#include "skin/SkinCompiler.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

using namespace qv;
namespace fs = std::filesystem;

namespace {

WString program_path(fs::path const& path) { return from_utf8(path.string()); }

// The single quotes of a shell word; the names come from the skin source.
std::string quoted(std::string const& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Renders an SVG to RGB565, transparent pixels as the key; the SVG's own
// size when `size` is empty.
std::unique_ptr<PixelBuffer> render_svg(fs::path const& svg, fs::path const& scratch, std::optional<Size> size)
{
    fs::path png = scratch / (std::to_string(std::hash<std::string> {}(svg.string())) + ".png");
    std::string command = "rsvg-convert";
    if (size)
        command += " -w " + std::to_string(size->width) + " -h " + std::to_string(size->height);
    command += " -o " + quoted(png.string()) + " " + quoted(svg.string());
    if (std::system(command.c_str()) != 0) {
        std::cerr << "skinc: rsvg-convert failed for " << svg.string() << "\n";
        return nullptr;
    }
    auto buffer = qv::load_png(program_path(png), platform::PngAlpha::KeyTransparent);
    fs::remove(png);
    return buffer;
}

fs::path svg_source(fs::path const& pictures, std::string const& name)
{
    auto base = pictures / name;
    if (fs::exists(base.string() + ".bmp") || fs::exists(base.string() + ".png"))
        return {};
    fs::path svg = base.string() + ".svg";
    return fs::exists(svg) ? svg : fs::path {};
}

// Renders or reads one picture source into RGB565, transparent pixels as the key.
std::unique_ptr<PixelBuffer> load_source(fs::path const& pictures, std::string const& name, fs::path const& scratch)
{
    auto base = pictures / name;
    if (fs::exists(base.string() + ".bmp")) {
        FileStream file(program_path(base.string() + ".bmp"), OpenMode::Read);
        return read_bmp_565(file);
    }
    if (fs::path png = base.string() + ".png"; fs::exists(png))
        return qv::load_png(program_path(png), platform::PngAlpha::KeyTransparent);
    if (auto svg = svg_source(pictures, name); !svg.empty())
        return render_svg(svg, scratch, std::nullopt);
    return nullptr;
}

bool write_picture(PixelBuffer const& buffer, fs::path const& target)
{
    fs::create_directories(target.parent_path());
    if (!write_bmp_565(buffer, program_path(target))) {
        std::cerr << "skinc: cannot write " << target << "\n";
        return false;
    }
    return true;
}

// The vector picture at every density above 1, beside the plain one. A
// picture from a raster source keeps density 1 alone, and any higher
// density left from an earlier vector source goes, so that the loader does
// not draw a stale picture.
bool write_densities(fs::path const& pictures, std::string const& name, Size design, fs::path const& out,
    fs::path const& scratch)
{
    fs::path const svg = svg_source(pictures, name);
    for (auto density : kPictureDensities) {
        if (density == kMinScaleQuarters)
            continue;
        fs::path target = out / (name + density_suffix(density) + ".bmp");
        if (svg.empty()) {
            fs::remove(target);
            continue;
        }
        Size const size { scale_length(design.width, density), scale_length(design.height, density) };
        auto buffer = render_svg(svg, scratch, size);
        if (!buffer || buffer->width() != size.width || buffer->height() != size.height) {
            std::cerr << "skinc: " << name << ".svg did not render at " << size.width << " x " << size.height << "\n";
            return false;
        }
        if (!write_picture(*buffer, target))
            return false;
    }
    return true;
}

}

int main(int argc, char** argv)
{
    constexpr char const* kUsage = "usage: skinc SOURCE PICTURE_DIR OUT_DIR\n"
                                   "  compiles the skin description SOURCE, with the SVG pictures in PICTURE_DIR,\n"
                                   "  into OUT_DIR\n";
    if (auto const status = tools::standard_options(argc, argv, "skinc", kUsage))
        return *status;
    if (argc != 4) {
        std::cerr << kUsage;
        return 2;
    }
    fs::path source_path = argv[1], pictures = argv[2], out = argv[3];
    std::ifstream in(source_path, std::ios::binary);
    if (!in) {
        std::cerr << "skinc: cannot read " << source_path << "\n";
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();

    fs::create_directories(out);
    fs::path scratch = out / ".skinc";
    fs::create_directories(scratch);
    std::map<std::string, std::unique_ptr<PixelBuffer>> buffers;
    auto sizer = [&](std::string const& name) -> std::optional<Size> {
        auto& buffer = buffers[name];
        if (!buffer)
            buffer = load_source(pictures, name, scratch);
        if (!buffer)
            return std::nullopt;
        return Size { buffer->width(), buffer->height() };
    };
    auto result = compile_skin(text.str(), sizer);
    if (!result.error.empty()) {
        fs::remove_all(scratch);
        std::cerr << source_path.string() << ":" << result.error << "\n";
        return 1;
    }
    for (auto const& name : result.pictures) {
        auto const& buffer = *buffers.at(name);
        if (!write_picture(buffer, out / (name + ".bmp"))
            || !write_densities(pictures, name, { buffer.width(), buffer.height() }, out, scratch)) {
            fs::remove_all(scratch);
            return 1;
        }
    }
    fs::remove_all(scratch);
    auto stem = source_path.filename().string();
    stem = stem.substr(0, stem.find('.'));
    std::ofstream skin(out / (stem + ".skin"), std::ios::binary | std::ios::trunc);
    skin.write(reinterpret_cast<char const*>(result.image.data()), static_cast<std::streamsize>(result.image.size()));
    if (!skin) {
        std::cerr << "skinc: cannot write the skin\n";
        return 1;
    }
    std::cout << "skinc: " << stem << ".skin, " << result.image.size() << " bytes, " << result.pictures.size()
              << " pictures\n";
    return 0;
}
