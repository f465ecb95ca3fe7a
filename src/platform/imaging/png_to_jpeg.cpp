#include "platform/imaging/png_to_jpeg.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

#include "core/conversion_error.h"
#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/row_progress.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro::imaging {

namespace {

// Rows between the decoder and the encoder: a few MCU bands, a few MB for the widest pictures.
constexpr int ringRows = 128;
// Each side tells the other of its progress a band at a time.
constexpr int band = 16;

struct Ring {
    int width = 0;
    std::vector<uint8_t> rows;
    uint8_t* row(int y) { return rows.data() + static_cast<size_t>(y % ringRows) * static_cast<size_t>(width) * 4; }
};

}  // namespace

std::optional<std::vector<uint8_t>> transcodePNGToJPEG(
    const ImageSource& source, const std::function<std::optional<EncodeOptions>(const ImageProperties&)>& optionsFor) {
    const auto data = source.data();
    if (source.typeIdentifier() != types::png || !detail::pngStreamable(data.data(), data.size())) return std::nullopt;

    ImageProperties props;
    std::optional<EncodeOptions> options;
    Ring ring;
    RowProgress decoded;   // rows put in the ring
    RowProgress encoded;   // rows the encoder has taken (their slots are free again)
    RowProgress ready;     // 1 once the options are known; failed when the file does not stream
    std::exception_ptr decodeFailure;
    bool declined = false;

    std::jthread decoder;
    const auto decode = [&] {
        try {
            detail::decodePNGRows(
                data.data(), data.size(), props,
                [&] {
                    // A profile that is not RGB is converted over the whole picture.
                    const auto& profile = props.metadata.iccProfile;
                    if (!profile.empty() && !describesRGB(profile)) options.reset();
                    else options = optionsFor(props);
                    if (!options) {
                        declined = true;
                        ready.fail();
                        return false;
                    }
                    ring.width = props.pixelWidth;
                    ring.rows.resize(static_cast<size_t>(props.pixelWidth) * 4 * std::min(ringRows, props.pixelHeight));
                    ready.advance(1);
                    return true;
                },
                [&](int y) -> uint8_t* {
                    if (y >= ringRows && encoded.waitFor(y - ringRows + 1) < 0) return nullptr;
                    return ring.row(y);
                },
                [&](int y) {
                    if ((y + 1) % band == 0 || y + 1 == props.pixelHeight) decoded.advance(y + 1);
                });
        } catch (...) {
            decodeFailure = std::current_exception();
            ready.fail();
            decoded.fail();
        }
    };
    try {
        decoder = std::jthread(decode);
    } catch (const std::system_error&) {
        return std::nullopt;  // no thread to spare: the whole-picture path needs none
    }

    std::vector<uint8_t> bytes;
    bool encodeFailed = false;
    if (ready.waitFor(1) >= 0) {
        bytes.reserve(static_cast<size_t>(props.pixelWidth) * static_cast<size_t>(props.pixelHeight) / 4 + 65536);
        int available = 0;
        try {
            // The encoder puts transparent rows on white as the whole picture is flattened.
            detail::encodeJPEG(props.pixelWidth, props.pixelHeight, props.metadata.iccProfile, *options,
                               [&bytes](const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); },
                               [&](int y) -> const uint8_t* {
                                   if (y > 0 && y % band == 0) encoded.advance(y);
                                   if (y >= available && (available = decoded.waitFor(y + 1)) < 0) return nullptr;
                                   return ring.row(y);
                               },
                               !props.hasAlpha && props.bitsPerComponent != 16);
        } catch (const ConversionError&) {
            encodeFailed = true;
        } catch (...) {
            encoded.fail();  // the decoder is let go before it is joined
            throw;
        }
        encoded.fail();  // nothing more is taken: a decoder still waiting stops
    }
    decoder.join();
    if (declined || decodeFailure || encodeFailed) {
        // Anything but a ConversionError (memory running out) is no reason to try again.
        if (decodeFailure) {
            try {
                std::rethrow_exception(decodeFailure);
            } catch (const ConversionError&) {
            }
        }
        return std::nullopt;
    }
    return bytes;
}

}  // namespace calvoro::imaging
