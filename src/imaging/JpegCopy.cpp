#include "imaging/ColourProfile.h"
#include "imaging/Exif.h"

#include <cstdlib>
#include "imaging/JpegAdapter.h"

namespace qv {

PictureProblem jpeg::problem_of(int message)
{
    switch (message) {
    case JERR_NO_SOI:
        return PictureProblem::NotPicture;
    case JERR_BAD_PRECISION:
        return PictureProblem::Precision;
    case JERR_SOF_UNSUPPORTED:
    case JERR_NOT_COMPILED:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_BAD_J_COLORSPACE:
    case JERR_BAD_MCU_SIZE:
        return PictureProblem::Unsupported;
    default:
        return PictureProblem::Damaged;
    }
}

char const* problem_text(PictureProblem problem)
{
    switch (problem) {
    case PictureProblem::None:
        return "readable";
    case PictureProblem::Missing:
        return "the file cannot be opened";
    case PictureProblem::Empty:
        return "the file is empty";
    case PictureProblem::NotPicture:
        return "not a picture in a format the program reads";
    case PictureProblem::Damaged:
        return "the picture is cut short or damaged";
    case PictureProblem::Precision:
        return "12-bit JPEG pictures are not supported";
    case PictureProblem::Unsupported:
        return "this kind of picture is not supported";
    case PictureProblem::TooLarge:
        return "the picture is too large to show";
    case PictureProblem::Storage:
        return "its copy could not be written";
    }
    return "unknown";
}

namespace {

// Exif blocks are APP1 segments, colour profiles APP2; the library keeps
// them only when asked.
constexpr int kExifMarker = JPEG_APP0 + 1;
constexpr int kProfileMarker = JPEG_APP0 + 2;

struct Probe {
    jpeg_decompress_struct cinfo {};
    ErrorManager errors;
    bool created { false };

    Probe() { install_error_manager(reinterpret_cast<j_common_ptr>(&cinfo), errors); }
    ~Probe()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }

    PictureProblem problem() const { return problem_of(errors.pub.msg_code); }

    bool read(SourceBase& source)
    {
        if (setjmp(errors.jump))
            return false;
        jpeg_create_decompress(&cinfo);
        created = true;
        attach_source(&cinfo, source);
        jpeg_save_markers(&cinfo, kExifMarker, 0xFFFF);
        jpeg_save_markers(&cinfo, kProfileMarker, 0xFFFF);
        return jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK;
    }

    JpegInfo info()
    {
        JpegInfo info;
        info.width = static_cast<int>(cinfo.image_width);
        info.height = static_cast<int>(cinfo.image_height);
        info.components = cinfo.num_components;
        bool const plain_colours = info.components == 1 || info.components == 3;
        bool ordinary_sampling = plain_colours && cinfo.max_h_samp_factor <= 2 && cinfo.max_v_samp_factor <= 2;
        int blocks_in_mcu = 0;
        for (int c = 0; c < cinfo.num_components; ++c) {
            auto const& component = cinfo.comp_info[c];
            blocks_in_mcu += component.h_samp_factor * component.v_samp_factor;
            // Padded to whole MCUs, as the library allocates them.
            auto const across = jround_up(component.width_in_blocks, component.h_samp_factor);
            auto const down = jround_up(component.height_in_blocks, component.v_samp_factor);
            info.coefficient_bytes += static_cast<std::uint64_t>(across) * down * sizeof(JBLOCK);
        }
        ordinary_sampling = ordinary_sampling && (info.components == 1 || blocks_in_mcu <= C_MAX_BLOCKS_IN_MCU);
        info.transcodable = ordinary_sampling;
        info.direct = ordinary_sampling && !cinfo.progressive_mode && !cinfo.arith_code
            && !cinfo.inputctl->has_multiple_scans;
        for (auto* marker = cinfo.marker_list; marker; marker = marker->next) {
            if (marker->marker == kExifMarker) {
                int const orientation = exif_orientation({ marker->data, marker->data_length });
                if (orientation != 1) {
                    info.orientation = orientation;
                    break;
                }
            }
        }
        JOCTET* profile = nullptr;
        unsigned int profile_length = 0;
        if (jpeg_read_icc_profile(&cinfo, &profile, &profile_length) && profile) {
            info.icc.assign(profile, profile + profile_length);
            std::free(profile);
        }
        return info;
    }
};

JpegProbe probe_source(SourceBase& source)
{
    // On the heap: the decompressor is large for a worker's stack.
    auto probe = std::make_unique<Probe>();
    JpegProbe result;
    if (!probe->read(source)) {
        result.problem = probe->problem();
        return result;
    }
    result.info = probe->info();
    auto const& info = result.info;
    bool const sides = info.width > kMaxPictureSide || info.height > kMaxPictureSide;
    bool const pixels = static_cast<std::uint64_t>(info.width) * static_cast<std::uint64_t>(info.height) > kMaxPicturePixels;
    // A picture read row by row needs no more than a few rows; any other
    // is read whole as coefficients first.
    bool const coefficients = !info.direct && info.coefficient_bytes > kMaxCoefficientBytes;
    if (sides || pixels || coefficients)
        result.problem = PictureProblem::TooLarge;
    return result;
}

}

JpegProbe probe_jpeg(WStringView path)
{
    FileSource source;
    if (!open_file_source(source, path))
        return { PictureProblem::Missing, {} };
    if (source.file.size() == 0)
        return { PictureProblem::Empty, {} };
    return probe_source(source.base);
}

JpegProbe probe_jpeg(std::span<std::uint8_t const> bytes)
{
    if (bytes.empty())
        return { PictureProblem::Empty, {} };
    MemorySource source;
    init_memory_source(source, bytes);
    return probe_source(source.base);
}

PictureProblem diagnose_picture(WStringView path)
{
    auto const probe = probe_jpeg(path);
    if (probe.problem != PictureProblem::None)
        return probe.problem;
    auto impl = std::make_unique<JpegReader::Impl>();
    if (!impl->open_file(path))
        return PictureProblem::Missing;
    if (!impl->start(Mode::Plain, 8))
        return impl->problem();
    std::vector<std::uint8_t> row(static_cast<std::size_t>(impl->cinfo.output_width) * 3);
    while (impl->cinfo.output_scanline < impl->cinfo.output_height)
        if (!impl->read_row(row.data()))
            return impl->problem();
    return PictureProblem::None;
}

namespace {

// The source side of a transcode: the library reads every scan into its
// coefficient arrays, which the encoder then writes out again.
struct CoefficientReader {
    jpeg_decompress_struct cinfo {};
    ErrorManager errors;
    FileSource source;
    bool created { false };

    CoefficientReader() { install_error_manager(reinterpret_cast<j_common_ptr>(&cinfo), errors); }
    ~CoefficientReader()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }

    // Null on any failure, also when the file runs out inside a scan: the
    // source then suspends the read, which never completes.
    jvirt_barray_ptr* read(WStringView path)
    {
        if (!open_file_source(source, path))
            return nullptr;
        if (setjmp(errors.jump))
            return nullptr;
        jpeg_create_decompress(&cinfo);
        created = true;
        attach_source(&cinfo, source.base);
        if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
            return nullptr;
        return jpeg_read_coefficients(&cinfo);
    }
};

}

PictureProblem transcode_sequential(WStringView picture, WStringView out)
{
    auto reader = std::make_unique<CoefficientReader>();
    auto* coefficients = reader->read(picture);
    if (!coefficients)
        return reader->created ? problem_of(reader->errors.pub.msg_code) : PictureProblem::Missing;
    auto writer = std::make_unique<JpegEncoder::Impl>();
    if (!writer->file.open(out, OpenMode::Write))
        return PictureProblem::Storage;
    if (!writer->transcode(&reader->cinfo, coefficients))
        return writer->errors.pub.msg_code == JERR_FILE_WRITE ? PictureProblem::Storage
                                                              : problem_of(writer->errors.pub.msg_code);
    return PictureProblem::None;
}

PictureProblem reencode_rgb(WStringView picture, WStringView out, SrgbConversion const* conversion)
{
    auto reader = std::make_unique<JpegReader::Impl>();
    if (!reader->open_file(picture))
        return PictureProblem::Missing;
    if (!reader->start(Mode::Plain, 1))
        return reader->problem();
    auto const width = static_cast<int>(reader->cinfo.output_width);
    auto const height = static_cast<int>(reader->cinfo.output_height);
    auto writer = std::make_unique<JpegEncoder::Impl>();
    if (!writer->file.open(out, OpenMode::Write) || !writer->start(width, height, 95, true))
        return PictureProblem::Storage;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        if (!reader->read_row(row.data()))
            return reader->problem();
        if (conversion)
            conversion->convert(row.data(), static_cast<std::size_t>(width));
        if (!writer->write_row(row.data()))
            return PictureProblem::Storage;
    }
    return writer->finish() ? PictureProblem::None : PictureProblem::Storage;
}

}
