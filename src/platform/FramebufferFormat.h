#pragma once

// Pure pixel work of the frame buffer driver: turning the program's RGB565
// rows into the panel's own pixel format (16 or 32 bits, the channels where
// the mode's bit fields put them), copying only an update rectangle, and in
// any of the four quarter turns between the program's upright picture and
// the panel. No device here: the driver hands in the mapped memory, so the
// same code serves the tests, the benchmark and the real screen.
// Any thread; the caller owns both buffers.

#include <cstdint>

namespace qv::platform {

// One channel of a pixel: its lowest bit and its number of bits, as the
// kernel's fb_bitfield gives them.
struct PixelField {
    std::uint32_t offset { 0 };
    std::uint32_t length { 0 };
    friend bool operator==(PixelField const&, PixelField const&) = default;
};

struct PixelFormat {
    std::uint32_t bits_per_pixel { 16 };
    PixelField red { 11, 5 };
    PixelField green { 5, 6 };
    PixelField blue { 0, 5 };
    PixelField transparent { 0, 0 }; // filled with ones: opaque where it counts
    friend bool operator==(PixelFormat const&, PixelFormat const&) = default;
};

inline constexpr PixelFormat kFormatRgb565 {};
inline constexpr PixelFormat kFormatXrgb8888 { 32, { 16, 8 }, { 8, 8 }, { 0, 8 }, { 0, 0 } };

// 16 or 32 bits with channels of 1 .. 8 bits inside the pixel, not
// overlapping one another.
bool is_supported(PixelFormat const& format);

// One program pixel in the panel's format (its low bits_per_pixel bits).
// Channels shorter than the program's keep its top bits; longer ones are
// filled by repeating them, so white stays white in every format.
std::uint32_t convert_pixel(std::uint16_t rgb565, PixelFormat const& format);
// The program pixel a panel pixel holds (its top bits of each channel).
std::uint16_t panel_pixel_to_rgb565(std::uint32_t pixel, PixelFormat const& format);

// The program's picture: upright, `width` x `height`.
struct Rgb565Image {
    std::uint16_t const* pixels { nullptr };
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::int32_t pitch { 0 }; // bytes
};

// The panel's memory as mapped: its own size, which is the program's with
// the sides exchanged for an odd turn.
struct PanelBuffer {
    std::uint8_t* bytes { nullptr };
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::int32_t stride { 0 }; // bytes
    PixelFormat format;
};

struct PixelRect {
    std::int32_t x { 0 };
    std::int32_t y { 0 };
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    friend bool operator==(PixelRect const&, PixelRect const&) = default;
};

// Where a program pixel lands on the panel turned by `turn` quarter turns
// (the same convention as the display layer's rotation driver), and back.
struct PanelPoint {
    std::int32_t x { 0 };
    std::int32_t y { 0 };
    friend bool operator==(PanelPoint const&, PanelPoint const&) = default;
};
PanelPoint program_to_panel(PanelPoint program, std::int32_t turn, std::int32_t program_width,
    std::int32_t program_height);
PanelPoint panel_to_program(PanelPoint panel, std::int32_t turn, std::int32_t program_width,
    std::int32_t program_height);

// The program rectangle `area`, clipped to the picture, as the panel
// rectangle it covers.
PixelRect panel_area(PixelRect area, std::int32_t turn, std::int32_t program_width, std::int32_t program_height);

// Converts `area` of the picture into the panel turned by `turn`; pixels
// outside it are left as they were. False (and nothing written) when the
// format is not supported or the sizes do not fit the turn.
bool present_rgb565(Rgb565Image const& image, PixelRect area, PanelBuffer const& panel, std::int32_t turn);

}
