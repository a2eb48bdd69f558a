#include "imaging/ColourProfile.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>

namespace qv {

namespace {

// A broken profile is the picture's fault, not the program's: lcms2 says
// nothing on the terminal, and the picture is shown unconverted.
void silence_lcms()
{
    static std::once_flag once;
    std::call_once(once, [] { cmsSetLogErrorHandler(nullptr); });
}

struct Profile {
    cmsHPROFILE handle;
    explicit Profile(cmsHPROFILE h)
        : handle(h)
    {
    }
    ~Profile()
    {
        if (handle)
            cmsCloseProfile(handle);
    }
};

cmsHTRANSFORM make_transform(std::span<std::uint8_t const> icc, cmsUInt32Number format)
{
    silence_lcms();
    if (icc.empty() || icc.size() > (64u << 20))
        return nullptr;
    Profile source(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
    if (!source.handle || cmsGetColorSpace(source.handle) != cmsSigRgbData)
        return nullptr;
    Profile srgb(cmsCreate_sRGBProfile());
    if (!srgb.handle)
        return nullptr;
    // Alpha is carried through untouched.
    cmsUInt32Number const flags = format == TYPE_RGBA_8 ? cmsFLAGS_COPY_ALPHA : 0;
    return cmsCreateTransform(source.handle, format, srgb.handle, format, INTENT_PERCEPTUAL, flags);
}

// A profile whose conversion moves none of these colours by more than a
// level is sRGB under another name ("sRGB IEC61966-2.1", a camera's copy
// of it, "IEC 61966-2-1 Default RGB"): converting would only cost time.
bool moves_colours(cmsHTRANSFORM transform)
{
    constexpr std::array<std::uint8_t, 5> kLevels { 0, 64, 128, 192, 255 };
    std::array<std::uint8_t, 125 * 3> in {};
    std::size_t i = 0;
    for (auto r : kLevels)
        for (auto g : kLevels)
            for (auto b : kLevels) {
                in[i++] = r;
                in[i++] = g;
                in[i++] = b;
            }
    auto out = in;
    cmsDoTransform(transform, in.data(), out.data(), 125);
    for (std::size_t k = 0; k < in.size(); ++k)
        if (std::abs(int { in[k] } - int { out[k] }) > 1)
            return true;
    return false;
}

}

std::unique_ptr<SrgbConversion> SrgbConversion::from_profile(std::span<std::uint8_t const> icc, PixelLayout layout)
{
    cmsHTRANSFORM probe = make_transform(icc, TYPE_RGB_8);
    if (!probe)
        return nullptr;
    bool const foreign = moves_colours(probe);
    if (foreign && layout == PixelLayout::Rgb)
        return std::unique_ptr<SrgbConversion>(new SrgbConversion(probe));
    cmsDeleteTransform(probe);
    if (!foreign)
        return nullptr;
    cmsHTRANSFORM transform = make_transform(icc, TYPE_RGBA_8);
    return transform ? std::unique_ptr<SrgbConversion>(new SrgbConversion(transform)) : nullptr;
}

SrgbConversion::SrgbConversion(void* transform)
    : m_transform(transform)
{
}

SrgbConversion::~SrgbConversion() { cmsDeleteTransform(static_cast<cmsHTRANSFORM>(m_transform)); }

void SrgbConversion::convert(std::uint8_t* pixels, std::size_t count) const
{
    // lcms2 counts pixels in 32 bits: a very large picture goes in parts.
    constexpr std::size_t kPart = std::size_t { 1 } << 24;
    auto const format = cmsGetTransformInputFormat(static_cast<cmsHTRANSFORM>(m_transform));
    std::size_t const size = T_CHANNELS(format) + T_EXTRA(format);
    while (count > 0) {
        std::size_t const n = std::min(count, kPart);
        cmsDoTransform(static_cast<cmsHTRANSFORM>(m_transform), pixels, pixels, static_cast<cmsUInt32Number>(n));
        pixels += n * size;
        count -= n;
    }
}

std::vector<std::uint8_t> rgb_profile(Chromaticities const& c, ToneCurve curve)
{
    silence_lcms();
    cmsCIExyY const white { c.white_x, c.white_y, 1 };
    cmsCIExyYTRIPLE const primaries { { c.red_x, c.red_y, 1 }, { c.green_x, c.green_y, 1 }, { c.blue_x, c.blue_y, 1 } };
    // IEC 61966-2-1's curve as lcms2's parametric type 4.
    double const srgb[5] = { 2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045 };
    cmsToneCurve* tone = curve == ToneCurve::Srgb ? cmsBuildParametricToneCurve(nullptr, 4, srgb)
                                                  : cmsBuildGamma(nullptr, curve == ToneCurve::Gamma22 ? 2.2 : 2.8);
    if (!tone)
        return {};
    cmsToneCurve* curves[3] = { tone, tone, tone };
    Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(tone);
    cmsUInt32Number size = 0;
    if (!profile.handle || !cmsSaveProfileToMem(profile.handle, nullptr, &size) || size == 0)
        return {};
    std::vector<std::uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile.handle, bytes.data(), &size))
        return {};
    return bytes;
}

bool is_foreign_profile(std::span<std::uint8_t const> icc)
{
    return SrgbConversion::from_profile(icc, PixelLayout::Rgb) != nullptr;
}

}
