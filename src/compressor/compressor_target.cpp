#include "compressor/compressor.h"

#include "core/format_capabilities.h"

namespace calvoro {

std::optional<SupportedFormat> Compressor::compressionTarget(SupportedFormat format) {
    using F = SupportedFormat;
    const bool heicWritable = FormatCapabilities::canProduce(F::heic);
    switch (format) {
        case F::png: case F::tiff: case F::bmp: case F::psd: case F::tga:
            if (heicWritable) return F::heic;
            if (FormatCapabilities::canProduce(F::jpeg)) return F::jpeg;
            return std::nullopt;
        case F::jpeg: case F::jpg: return F::jpeg;
        case F::heic: case F::heif: return heicWritable ? F::heic : F::jpeg;
        case F::avif: return FormatCapabilities::canProduce(F::avif) ? F::avif : F::jpeg;
        case F::jp2: return FormatCapabilities::canProduce(F::jp2) ? F::jp2 : F::jpeg;
        case F::mp4: case F::mov: case F::m4v: return format;
        case F::avi: return F::mp4;
        case F::mp3: case F::aac: case F::m4a: case F::wav: case F::aiff: case F::alac: case F::flac: return F::m4a;
        default: return std::nullopt;
    }
}

}  // namespace calvoro
