#include "platform/imaging/jpeg_to_png.h"

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

}  // namespace calvoro::imaging
