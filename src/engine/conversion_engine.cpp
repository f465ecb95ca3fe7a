#include "engine/conversion_engine.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <optional>
#include <system_error>

#include "core/cancellation.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/file_writing.h"
#include "core/source_file.h"
#include "core/text_util.h"
#include "core/work_folder.h"

namespace calvoro {
namespace {

namespace fs = std::filesystem;
const std::string engineCategory = "Engine";
const std::string arrow = " \u2192 ";
const std::string dash = " \u2014 ";

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "An unknown error occurred.";
    }
}

// A file system's failure reaches the user in the program's words; its own text, with the
// paths of the work folder, stays in the log.
[[noreturn]] void rethrowInOwnWords(const std::exception_ptr& error, const fs::path& sourceFile) {
    try {
        std::rethrow_exception(error);
    } catch (const fs::filesystem_error& e) {
        if (!sourceFile.empty() && (e.path1() == sourceFile || e.path2() == sourceFile)) throw ConversionError::failedToLoadFile();
        throw ConversionError::failedToCreateOutput();
    }
}

std::string describe(const std::error_code& ec) {
    return ec.message();
}

// The folder's entries that do not begin with "."; an unreadable folder counts as empty.
long visibleEntryCount(const fs::path& folder) {
    long count = 0;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return 0;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return count;
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.') ++count;
    }
    return count;
}

// The size attribute of the item itself (links not followed); the file system's error when unreadable.
int64_t itemSize(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        throw fs::filesystem_error("Cannot read the attributes of the output", path, std::error_code(errno, std::generic_category()));
    return static_cast<int64_t>(st.st_size);
}

// Moves a finished output out of the work folder under its own name, or the next free one.
fs::path publish(const fs::path& produced, const fs::path& outputDir, SupportedFormat target) {
    const std::string name = lastPathComponent(produced);
    if (target.isMultiFileOutput()) return files::publish(produced, outputDir, name, "");
    // The target's extension as a whole ("tar.gz"), so a taken name becomes "x (1).tar.gz".
    const std::string ext = target.fileExtension();
    if (!ext.empty() && name.size() > ext.size() + 1 && name.ends_with("." + ext))
        return files::publish(produced, outputDir, name.substr(0, name.size() - ext.size() - 1), ext);
    return files::publish(produced, outputDir, deletingPathExtension(name), pathExtension(produced));
}

// A folder's name can look like any file's, and a FIFO or a device behind a file's name
// would keep a converter reading for ever: no converter should be left to find out.
void refuseUnreadableKind(const fs::path& sourceURL) {
    if (auto refused = SourceFile::refusal(sourceURL)) {
        const bool folder = refused->kind() == ConversionError::Kind::sourceIsFolder;
        ConversionLogger::shared().error(folder ? "The source is a folder" : "The source is not a regular file", engineCategory,
                                         sourceURL.string());
        throw *refused;
    }
}

void makeOutputFolder(const fs::path& outputDir) {
    std::error_code ec;
    fs::create_directories(outputDir, ec);
    if (!ec && !fs::is_directory(outputDir, ec) && !ec) ec = std::make_error_code(std::errc::not_a_directory);
    if (ec) {
        ConversionLogger::shared().error("Cannot create output directory", engineCategory, outputDir.string() + dash + describe(ec));
        throw ConversionError::failedToCreateOutput();
    }
}

// What the converter produced, checked (a folder holds files; a file has bytes and passes
// validation), as the log sums it up.
std::string checkedOutputSummary(const fs::path& produced, SupportedFormat source, SupportedFormat target,
                                 const ConversionEngine::Check& validate) {
    ConversionLogger& logger = ConversionLogger::shared();
    if (target.isMultiFileOutput()) {
        const long count = visibleEntryCount(produced);
        if (count == 0) {
            logger.error("Output folder is empty \u2014 no pages were written", engineCategory, lastPathComponent(produced));
            throw ConversionError::emptyOutput();
        }
        return "folder (" + std::to_string(count) + " files)";
    }
    const int64_t size = itemSize(produced);
    if (size <= 0) {
        logger.warning("Output file is empty (0 bytes)", engineCategory, lastPathComponent(produced));
        throw ConversionError::emptyOutput();
    }
    const Validator::ValidationStatus status = validate(target, produced, source);
    if (status.isFailure()) {
        logger.error("Output failed validation: " + status.reason(), engineCategory, lastPathComponent(produced));
        throw ConversionError::corruptFile("The converted file didn't come out valid (" + status.reason() +
                                           "). The original is untouched.");
    }
    return formatByteCount(size);
}

}  // namespace

ConversionEngine::Collaborators ConversionEngine::Collaborators::standard() {
    return Collaborators{&ConversionEngine::dispatch, &Validator::validate};
}

fs::path ConversionEngine::convert(const ConversionJob& job, const fs::path& outputDir, const ProgressHandler& progressHandler) {
    return convert(job, outputDir, progressHandler, Collaborators::standard(), CancellationToken());
}

fs::path ConversionEngine::convert(const ConversionJob& job, const fs::path& outputDir, const ProgressHandler& progressHandler,
                                   const CancellationToken& cancellation) {
    return convert(job, outputDir, progressHandler, Collaborators::standard(), cancellation);
}

fs::path ConversionEngine::convert(const ConversionJob& job, const fs::path& outputDir, const ProgressHandler& progressHandler,
                                   const Collaborators& with) {
    return convert(job, outputDir, progressHandler, with, CancellationToken());
}

fs::path ConversionEngine::convert(const ConversionJob& job, const fs::path& outputDir, const ProgressHandler& progressHandler,
                                   const Collaborators& with, const CancellationToken& cancellation) {
    ConversionLogger& logger = ConversionLogger::shared();

    if (!job.targetFormat) {
        logger.error("No target format selected", engineCategory, job.fileName);
        throw ConversionError::noTargetSelected();
    }
    const SupportedFormat source = job.detectedFormat;
    const SupportedFormat target = *job.targetFormat;
    logger.info("Starting: " + source.displayName() + arrow + target.displayName(), engineCategory, job.fileName);

    refuseUnreadableKind(job.sourceURL);
    makeOutputFolder(outputDir);

    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        return formatC("%.1f", seconds.count());
    };

    // The converter writes into a private folder inside the output folder; only a finished,
    // checked output leaves it, in one rename. A failure, a cancellation or a killed process
    // leaves nothing under an output's name.
    std::optional<WorkFolder> work;
    try {
        work.emplace(outputDir);
    } catch (const std::exception& e) {
        logger.error("Cannot create output directory", engineCategory, outputDir.string() + dash + e.what());
        throw ConversionError::failedToCreateOutput();
    }

    try {
        const fs::path produced = with.dispatch(job, target, work->path(), progressHandler, cancellation);
        const std::string summary = checkedOutputSummary(produced, source, target, with.validate);
        cancellation.throwIfCancelled();

        const fs::path output = publish(produced, outputDir, target);
        logger.success("Completed in " + elapsed() + "s" + arrow + summary, engineCategory, lastPathComponent(output));
        return output;
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        logger.error("Failed after " + elapsed() + "s: " + describe(error), source.category().rawValue(),
                     job.fileName + " (" + source.displayName() + arrow + target.displayName() + ")");
        rethrowInOwnWords(error, job.sourceURL);
    }
}

}  // namespace calvoro
