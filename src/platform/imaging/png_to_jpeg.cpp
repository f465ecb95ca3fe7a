#include "platform/imaging/png_to_jpeg.h"

#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/row_relay.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro::imaging {

std::optional<std::vector<uint8_t>> transcodePNGToJPEG(
    const ImageSource& source, const std::function<std::optional<EncodeOptions>(const ImageProperties&)>& optionsFor) {
    const auto data = source.data();
    const bool mapped = source.isMappedFile();
    if (source.typeIdentifier() != types::png || !detail::pngStreamable(data.data(), data.size(), mapped)) return std::nullopt;

    ImageProperties props;
    std::optional<EncodeOptions> options;
    std::vector<uint8_t> bytes;
    const bool streamed = RowRelay::run(
        [&](RowRelay& relay) {
            detail::decodePNGRows(
                data.data(), data.size(), props,
                [&] {
                    // A profile that is not RGB is converted over the whole picture.
                    const auto& profile = props.metadata.iccProfile;
                    if (!profile.empty() && !describesRGB(profile)) return false;
                    options = optionsFor(props);
                    if (!options) return false;
                    relay.start(static_cast<size_t>(props.pixelWidth) * 4, props.pixelHeight);
                    return true;
                },
                [&](int y) { return relay.rowToFill(y); }, [&](int y) { relay.filled(y); }, mapped);
        },
        [&](RowRelay& relay) {
            bytes.reserve(static_cast<size_t>(props.pixelWidth) * static_cast<size_t>(props.pixelHeight) / 4 + 65536);
            // The encoder puts transparent rows on white as the whole picture is flattened.
            detail::encodeJPEG(props.pixelWidth, props.pixelHeight, props.metadata.iccProfile, *options,
                               [&bytes](const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); },
                               [&](int y) { return relay.row(y); }, !props.hasAlpha);
        });
    if (!streamed) return std::nullopt;
    return bytes;
}

}  // namespace calvoro::imaging
