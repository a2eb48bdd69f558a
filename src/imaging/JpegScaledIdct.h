#pragma once

// Internal to the JPEG adapter: chroma of reduced decodes. Reducing a 4:2:0
// picture to 3, 5, 6 or 7 eighths, the library transforms each chroma block
// at twice the luma's reduced size (12 × 12 at 6/8) so as to need no
// upsampling, with transforms that are its slowest by far. Half-size chroma
// blocks with every sample doubled are the box upsampling that every decode
// of this program uses at full size (set_output_format), at a third of the
// cost.

#include "imaging/JpegLibrary.h"

namespace qv::jpeg {

// After jpeg_start_decompress (and after every restart of the decompressor,
// which resets the transforms): components transformed at twice the
// smallest reduced size, 6 to 14, are transformed at that size and doubled.
// The library's own transform of the smallest size (that of component 0,
// which must be one of them) does the work, so nothing outside the
// library's interface is linked. Nothing changes at 1, 2, 4 and 8 eighths.
void use_box_chroma(j_decompress_ptr cinfo);

}
