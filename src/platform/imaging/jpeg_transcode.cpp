#include "platform/imaging/jpeg_transcode.h"

#include <cstring>

#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/codecs/png_writer.h"
#include "platform/imaging/row_relay.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro::imaging {

namespace {

// A JPEG whose end-of-image marker is missing: the decoder would fill in the rest, which the
// whole-picture path refuses.
bool endsWhole(std::span<const uint8_t> data) {
    return data.size() >= 4 && data[data.size() - 2] == 0xFF && data[data.size() - 1] == 0xD9;
}

}  // namespace

bool transcodeJPEGToPNG(const ImageSource& source, const std::function<std::optional<EncodeOptions>(const ImageProperties&)>& optionsFor,
                        const ByteSink& sink) {
    const auto data = source.data();
    if (source.typeIdentifier() != types::jpeg || !endsWhole(data)) return false;
    ImageProperties props;
    std::optional<EncodeOptions> options;
    return RowRelay::run(
        [&](RowRelay& relay) {
            detail::decodeJPEGRows(
                data.data(), data.size(), props,
                [&] {
                    options = optionsFor(props);
                    if (!options) return false;
                    relay.start(static_cast<size_t>(props.pixelWidth) * 4, props.pixelHeight);
                    return true;
                },
                [&](int y) { return relay.rowToFill(y); }, [&](int y) { relay.filled(y); }, source.isMappedFile());
        },
        [&](RowRelay& relay) {
            // A JPEG is opaque 8-bit RGB, which is what the whole picture's PNG holds too.
            detail::PngRows rows;
            rows.width = props.pixelWidth;
            rows.height = props.pixelHeight;
            rows.rowAt = [&](int y) -> const void* { return relay.row(y); };
            detail::writePNG(rows, props.metadata.iccProfile, *options, sink);
        });
}

std::optional<std::vector<uint8_t>> transcodeJPEGIntoEncoder(
    const ImageSource& source, const std::string& type,
    const std::function<std::optional<EncodeOptions>(const ImageProperties&)>& optionsFor) {
    const bool heif = type == types::heic || type == types::heif || type == types::avif;
    const auto data = source.data();
    if (source.typeIdentifier() != types::jpeg || (type != types::webp && !heif) || !endsWhole(data)) return std::nullopt;
    ImageProperties props;
    std::unique_ptr<detail::PictureEncoder> encoder;
    std::optional<std::vector<uint8_t>> bytes;
    // The decode overlaps the encoder's taking in of the rows (WebP's colour conversion); the
    // encode itself waits for the last row.
    const bool done = RowRelay::run(
        [&](RowRelay& relay) {
            detail::decodeJPEGRows(
                data.data(), data.size(), props,
                [&] {
                    auto options = optionsFor(props);
                    if (!options) return false;
                    // The pixels go upright: no orientation is written with them.
                    options->metadata.orientation = 1;
                    const auto& profile = props.metadata.iccProfile;
                    if (heif)
                        encoder = detail::heifPictureEncoder(props.pixelWidth, props.pixelHeight, false, profile, *options,
                                                             type == types::avif);
                    else encoder = detail::webpPictureEncoder(props.pixelWidth, props.pixelHeight, profile, *options);
                    if (!encoder) return false;
                    relay.start(static_cast<size_t>(props.pixelWidth) * 4, props.pixelHeight);
                    return true;
                },
                [&](int y) { return relay.rowToFill(y); }, [&](int y) { relay.filled(y); }, source.isMappedFile());
        },
        [&](RowRelay& relay) {
            const size_t rowBytes = static_cast<size_t>(props.pixelWidth) * 4;
            for (int y = 0; y < props.pixelHeight; ++y) {
                const uint8_t* row = relay.row(y);
                if (!row) detail::fail("The picture is incomplete");
                std::memcpy(encoder->rowAt(y), row, rowBytes);
                encoder->rowDone(y);
            }
            bytes = encoder->finish();
        });
    if (!done) return std::nullopt;
    return bytes;
}

}  // namespace calvoro::imaging
