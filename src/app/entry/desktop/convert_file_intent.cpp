#include "app/entry/desktop/convert_file_intent.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "app/entry/desktop/intent_errors.h"
#include "core/file_detector.h"
#include "core/file_writing.h"
#include "core/text_util.h"
#include "core/work_folder.h"
#include "engine/conversion_engine.h"
#include "engine/in_place_conversion.h"

namespace calvoro {

namespace {

namespace fs = std::filesystem;

std::string systemMessage(int error) { return std::error_code(error, std::generic_category()).message(); }

std::vector<uint8_t> readWholeFile(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in) throw std::runtime_error("Cannot read the converted file " + lastPathComponent(path) + ".");
    std::vector<uint8_t> bytes(size);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (static_cast<uintmax_t>(in.gcount()) != size)
        throw std::runtime_error("Cannot read the converted file " + lastPathComponent(path) + ".");
    return bytes;
}

}  // namespace

IntentFile ConvertFileIntent::perform() const {
    // Removed with the copy and the output whatever happens; a killed run's is cleared later.
    const WorkFolder work(WorkFolder::temporaryDirectory());

    // Only the last component names the copy: a name never reaches outside the working folder.
    const std::string name = lastPathComponent(fs::path(file.name));
    if (name.empty() || name == "." || name == ".." || name == "/") throw ConvertIntentError::unsupportedInput(file.name);
    const fs::path input = work.path() / name;
    if (!files::writeAll(input, file.contents.data(), file.contents.size(), O_CREAT | O_EXCL))
        throw std::runtime_error("Cannot write " + name + " into the temporary folder: " + systemMessage(errno));

    std::optional<ConversionJob> job = FileDetector::createJob(input);
    if (!job) throw ConvertIntentError::unsupportedInput(name);
    const std::optional<SupportedFormat> target = ConvertFormatChoice::resolve(format, job->detectedFormat);
    const auto possible = job->detectedFormat.possibleConversions();
    if (!target || std::find(possible.begin(), possible.end(), *target) == possible.end())
        throw ConvertIntentError::unsupportedConversion(job->detectedFormat.displayName(),
                                                        target ? target->displayName() : format.rawValue());
    job->targetFormat = *target;

    const fs::path output = ConversionEngine::convert(*job, work.path(), [](double) {});
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(output, ec);
    if (!ec && size > maximumResultSize) throw IntentResultTooLarge(lastPathComponent(output), size, maximumResultSize);
    return {lastPathComponent(output), readWholeFile(output)};
}

fs::path ConvertFileInPlaceIntent::perform() const {
    if (!file || file->empty() || !file->is_absolute()) throw ConversionIntentError::noFileURL();
    const fs::path& source = *file;
    // Otherwise the missing file's folder would be asked for permission instead.
    std::error_code ec;
    if (!fs::exists(source, ec) && !ec) throw ConversionIntentError::fileNotFound(lastPathComponent(source));

    const std::optional<SupportedFormat> detected = FileDetector::detect(source);
    if (!detected) throw ConversionIntentError::engine("Calvoro doesn't recognise " + lastPathComponent(source) + ".");
    const std::optional<SupportedFormat> target = ConvertFormatChoice::resolve(format, *detected);
    if (!target) throw ConversionIntentError::unsupported(format.rawValue());

    const InPlaceConversion::Outcome outcome = InPlaceConversion::convert(source, *target, replaceExisting);
    switch (outcome.kind()) {
        case InPlaceConversion::Outcome::Kind::converted: return outcome.url();
        case InPlaceConversion::Outcome::Kind::needsAuthorization:
            throw ConversionIntentError::needsFolderAccess(lastPathComponent(outcome.url()));
        case InPlaceConversion::Outcome::Kind::collision:
            throw ConversionIntentError::collision(lastPathComponent(outcome.url()));
        case InPlaceConversion::Outcome::Kind::failed: break;
    }
    throw ConversionIntentError::engine(outcome.reason());
}

}  // namespace calvoro
