#include "imaging/JpegScaledIdct.h"

namespace qv::jpeg {

namespace {

// The block at the smallest size into a local block, each sample then
// written as 2 × 2. S is that size.
template<int S>
void doubled_idct(j_decompress_ptr cinfo, jpeg_component_info* component, JCOEFPTR coefficients, JSAMPARRAY output,
    JDIMENSION column)
{
    JSAMPLE half[S][S];
    JSAMPROW rows[S];
    for (int r = 0; r < S; ++r)
        rows[r] = half[r];
    cinfo->idct->inverse_DCT[0](cinfo, component, coefficients, rows, 0);
    // Stores only: reading the doubled row back to copy it would wait on
    // the stores just made.
    for (int r = 0; r < S; ++r) {
        JSAMPLE* upper = output[2 * r] + column;
        JSAMPLE* lower = output[2 * r + 1] + column;
        for (int c = 0; c < S; ++c)
            upper[2 * c] = upper[2 * c + 1] = lower[2 * c] = lower[2 * c + 1] = half[r][c];
    }
}

}

void use_box_chroma(j_decompress_ptr cinfo)
{
    int const size = cinfo->min_DCT_scaled_size;
    inverse_DCT_method_ptr doubled = nullptr;
    switch (size) {
    case 3: doubled = doubled_idct<3>; break;
    case 5: doubled = doubled_idct<5>; break;
    case 6: doubled = doubled_idct<6>; break;
    case 7: doubled = doubled_idct<7>; break;
    default: return;
    }
    if (cinfo->num_components < 1 || cinfo->comp_info[0].DCT_scaled_size != size || cinfo->raw_data_out)
        return;
    for (int c = 1; c < cinfo->num_components && c < MAX_COMPONENTS; ++c)
        if (cinfo->comp_info[c].DCT_scaled_size == 2 * size)
            cinfo->idct->inverse_DCT[c] = doubled;
}

}
