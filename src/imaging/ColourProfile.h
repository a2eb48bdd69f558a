#pragma once

// Embedded colour profiles brought to sRGB with lcms2. Screens are taken
// to be sRGB, and so are pictures without a profile: only a profile that
// says otherwise (Display P3, Adobe RGB, a camera's own) changes pixels.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace qv {

enum class PixelLayout { Rgb, Rgba };

class SrgbConversion {
public:
    // Null when the profile cannot be read, describes no RGB space, or is
    // sRGB already (its conversion would move no colour by more than one
    // level): the pixels are then shown as they are.
    static std::unique_ptr<SrgbConversion> from_profile(std::span<std::uint8_t const> icc, PixelLayout layout);
    ~SrgbConversion();
    SrgbConversion(SrgbConversion const&) = delete;
    SrgbConversion& operator=(SrgbConversion const&) = delete;

    // In place, `count` pixels of the layout; alpha is left as it is.
    void convert(std::uint8_t* pixels, std::size_t count) const;

private:
    explicit SrgbConversion(void* transform);
    void* m_transform;
};

// An ICC profile for RGB described by its primaries and white point (CIE
// x, y) and one of these curves, as video-style colour descriptions (HEIF
// and AVIF "nclx") give them. Empty when lcms2 cannot make it.
enum class ToneCurve { Srgb, Gamma22, Gamma28 };
struct Chromaticities {
    double red_x, red_y, green_x, green_y, blue_x, blue_y, white_x, white_y;
};
std::vector<std::uint8_t> rgb_profile(Chromaticities const& c, ToneCurve curve);

// Whether a picture with this profile needs its colours converted.
bool is_foreign_profile(std::span<std::uint8_t const> icc);

}
