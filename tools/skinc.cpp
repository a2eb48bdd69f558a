// The skin compiler: turns a skin source and its picture sources (SVG, PNG
// or 16-bit BMP) into the binary skin file and its 16-bit BMP pictures.
//
//   skinc SOURCE.skin.txt PICTURE_DIR OUT_DIR
//
// writes OUT_DIR/<SOURCE base name>.skin and OUT_DIR/<picture>.bmp.

#include "imaging/BmpWriter.h"
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

// Renders or reads one picture source into RGB565, transparent pixels as the key.
std::unique_ptr<PixelBuffer> load_source(fs::path const& pictures, std::string const& name, fs::path const& scratch)
{
    auto base = pictures / name;
    if (fs::exists(base.string() + ".bmp")) {
        FileStream file(program_path(base.string() + ".bmp"), OpenMode::Read);
        return read_bmp_565(file);
    }
    fs::path png = base.string() + ".png";
    if (!fs::exists(png) && fs::exists(base.string() + ".svg")) {
        png = scratch / (std::to_string(std::hash<std::string> {}(name)) + ".png");
        std::string command = "rsvg-convert -o '" + png.string() + "' '" + base.string() + ".svg'";
        if (std::system(command.c_str()) != 0) {
            std::cerr << "skinc: rsvg-convert failed for " << name << ".svg\n";
            return nullptr;
        }
    }
    if (!fs::exists(png))
        return nullptr;
    return qv::load_png(program_path(png), platform::PngAlpha::KeyTransparent);
}

}

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: skinc SOURCE PICTURE_DIR OUT_DIR\n";
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
    fs::remove_all(scratch);
    if (!result.error.empty()) {
        std::cerr << source_path.string() << ":" << result.error << "\n";
        return 1;
    }
    for (auto const& name : result.pictures) {
        fs::path target = out / (name + ".bmp");
        fs::create_directories(target.parent_path());
        if (!write_bmp_565(*buffers.at(name), program_path(target))) {
            std::cerr << "skinc: cannot write " << target << "\n";
            return 1;
        }
    }
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
