#pragma once

// The Orientation tag of a JPEG's Exif block, and the geometry of turning a
// picture as decoded ("stored") into the picture as it is meant to be seen
// ("upright"). Orientations are the integers 1..8 as Exif defines them by
// where the stored picture's row 0 and column 0 belong in the upright one:
//
//   1  row 0 at the top,    column 0 at the left   (as stored)
//   2  row 0 at the top,    column 0 at the right  (mirrored left-right)
//   3  row 0 at the bottom, column 0 at the right  (turned 180 degrees)
//   4  row 0 at the bottom, column 0 at the left   (mirrored top-bottom)
//   5  row 0 at the left,   column 0 at the top    (transposed)
//   6  row 0 at the right,  column 0 at the top    (to be turned 90 degrees clockwise)
//   7  row 0 at the right,  column 0 at the bottom (transverse)
//   8  row 0 at the left,   column 0 at the bottom (to be turned 90 degrees counter-clockwise)
//
// For 5..8 the upright picture is stored_height wide and stored_width high.
// The geometry functions take any other orientation as 1.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qv {

class ByteSource;

// `app1` is the payload of an APP1 segment (what follows its length field):
// "Exif\0\0", a TIFF header ("II*\0" or "MM\0*") and the offset of IFD0.
// Returns IFD0's Orientation (tag 0x0112, one SHORT) when it is 1..8, and 1
// for anything else: another signature, a broken header, an offset or an
// entry table that does not fit in the block, a tag of another type or
// count, or a value out of range. The whole entry table of IFD0 must be in
// the block; nothing past it (the link to the next IFD) is needed or read.
int exif_orientation(std::span<std::uint8_t const> app1);

// The same for an Exif block as other formats carry it (PNG eXIf, WebP
// EXIF): a bare TIFF block, or one that kept the "Exif\0\0" in front.
int exif_orientation_of_block(std::span<std::uint8_t const> exif);

// When the picture was taken, as the camera's clock said: local time, no
// zone.
struct ExifDateTime {
    int year { 0 };
    int month { 0 };
    int day { 0 };
    int hour { 0 };
    int minute { 0 };
    int second { 0 };
    friend bool operator==(ExifDateTime const&, ExifDateTime const&) = default;
};

// DateTimeOriginal (tag 0x9003, ASCII "YYYY:MM:DD HH:MM:SS") of the Exif
// IFD that IFD0's tag 0x8769 points to, in the same `app1` payload as
// exif_orientation reads. Nothing for a block without it, and, as there,
// for anything that does not fit in the block or is not what the tags
// say: a pointer of another type or count, a table or text that runs past
// the end, a date of another form, fields out of range, or the blank or
// all-zero date cameras write when their clock was never set.
std::optional<ExifDateTime> exif_date_taken(std::span<std::uint8_t const> app1);

// The payload of the picture's first Exif APP1 segment (as exif_orientation
// and exif_date_taken take it), read from the start of a JPEG stream;
// empty when the stream is no JPEG, ends early, or reaches its first scan
// without one. Reads only the segments before the Exif block, skipping
// their contents, and gives up after as many segments as any real picture
// carries before its scan.
std::vector<std::uint8_t> read_exif_block(ByteSource& source);

// True for 5..8, whose upright picture has width and height exchanged.
bool orientation_swaps_sides(int orientation);

struct OrientedPoint {
    int x;
    int y;
};

// The pixel of the stored picture (stored_width x stored_height) that is
// shown at (u, v) of the upright one. No clipping: points outside the
// upright picture map to points outside the stored one.
OrientedPoint stored_point(int orientation, int u, int v, int stored_width, int stored_height);

struct StoredRect {
    int x;
    int y;
    int width;
    int height;
};

// The rectangle of the stored picture covering the upright rectangle at
// (u, v) of width x height: exactly the pixels stored_point maps it to.
// An empty upright rectangle gives an empty one.
StoredRect stored_rect(int orientation, int u, int v, int width, int height, int stored_width,
    int stored_height);

// Writes the whole upright picture from the stored one; strides count
// pixels. Writes go row by row in order, reads follow the orientation.
// The two pictures must not overlap.
void orient_pixels(int orientation, std::uint16_t const* stored, int stored_stride, int stored_width,
    int stored_height, std::uint16_t* upright, int upright_stride);

// The same for 3-byte pixels in tightly packed rows.
void orient_rgb(int orientation, std::uint8_t const* stored, int stored_width, int stored_height,
    std::uint8_t* upright);

}
