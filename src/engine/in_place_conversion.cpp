#include "engine/in_place_conversion.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/file_detector.h"
#include "core/file_writing.h"
#include "core/folder_access.h"
#include "core/output_name_registry.h"
#include "core/source_file.h"
#include "core/text_util.h"
#include "core/work_folder.h"

namespace calvoro {
namespace {

namespace fs = std::filesystem;
using Outcome = InPlaceConversion::Outcome;

bool itemExists(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string systemMessage(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// Copies a file's bytes into a new file that must not exist yet, keeping its permission bits.
void copyToNewFile(const fs::path& from, const fs::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw std::runtime_error("Cannot read the converted file: " + systemMessage(errno));
    struct stat st {};
    ::fstat(in, &st);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        const int e = errno;
        ::close(in);
        throw std::runtime_error("Cannot write into " + to.parent_path().string() + ": " + systemMessage(e));
    }
    std::vector<char> buffer(1 << 20);
    int failure = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            failure = errno;
            break;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                failure = errno;
                break;
            }
            done += w;
        }
        if (failure) break;
    }
    if (!failure && ::fsync(out) != 0) failure = errno;
    if (::close(out) != 0 && !failure) failure = errno;
    ::close(in);
    if (failure) {
        ::unlink(to.c_str());
        throw std::runtime_error("Cannot write the converted file into " + to.parent_path().string() + ": " +
                                 systemMessage(failure));
    }
}

enum class Placement { placed, collisionAppeared };

// Moves the produced file into the destination's folder under a temporary name first (copying
// when it lies on another file system), then gives it its name in one step.
Placement place(const fs::path& produced, const fs::path& destination, bool replaceExisting) {
    if (!replaceExisting && itemExists(destination)) return Placement::collisionAppeared;

    // A work folder of the destination's folder, so that a killed process leaves no stray file there.
    const WorkFolder staging(destination.parent_path());
    const fs::path staged = staging.path() / "converted";
    if (::rename(produced.c_str(), staged.c_str()) != 0) {
        const int e = errno;
        if (e != EXDEV) throw std::runtime_error("Cannot move the converted file into " + destination.parent_path().string() + ": " + systemMessage(e));
        copyToNewFile(produced, staged);
    }
    if (replaceExisting) {
        if (::rename(staged.c_str(), destination.c_str()) != 0)
            throw std::runtime_error("Cannot replace " + destination.string() + ": " + systemMessage(errno));
    } else if (!files::renameNoReplace(staged, destination)) {
        if (errno != EEXIST)
            throw std::runtime_error("Cannot move the converted file to " + destination.string() + ": " + systemMessage(errno));
        return Placement::collisionAppeared;
    }
    return Placement::placed;
}

std::string describe(const std::exception& e) {
    return e.what();
}

Outcome run(const fs::path& sourceArg, SupportedFormat to, bool replaceExisting,
            const ConversionEngine::ProgressHandler& progress, const ConversionEngine::Collaborators& engine) {
    const fs::path source = sourceArg.is_absolute() ? sourceArg : fs::absolute(sourceArg);
    // 1. The source's folder.
    const fs::path folder = source.parent_path();

    // 2. Targets that write a folder of files have no single place beside the source.
    if (to.isMultiFileOutput())
        return Outcome::failed(to.displayName() + " creates a folder of files \u2014 open it in Calvoro instead.");

    // 3. A job for the source, which must be a file to read to its end.
    if (auto refused = SourceFile::refusal(source)) return Outcome::failed(refused->what());
    std::optional<ConversionJob> job = FileDetector::createJob(source);
    if (!job) return Outcome::failed("Calvoro doesn't recognise " + lastPathComponent(source) + ".");

    // 4. Only the conversions that the source's format offers.
    const auto targets = job->detectedFormat.possibleConversions();
    if (std::find(targets.begin(), targets.end(), to) == targets.end())
        return Outcome::failed("Can't convert " + job->detectedFormat.displayName() + " to " + to.displayName() + ".");

    // 5. The destination; never the source itself in another letter case.
    const fs::path destination = folder / OutputNameRegistry::fittedName(deletingPathExtension(lastPathComponent(source)), "",
                                                                         to.fileExtension(), OutputNameRegistry::nameLimit(folder));
    if (unicodeLowercased(destination.string()) == unicodeLowercased(source.string()))
        return Outcome::failed(lastPathComponent(source) + " is already " + to.displayName() + ".");

    // 6. Writing beside the source needs the folder's authorisation.
    FolderAccess& access = FolderAccess::shared();
    if (!access.canWrite(folder)) return Outcome::needsAuthorization(folder);

    // 7. An existing destination is reported before any work.
    if (!replaceExisting) {
        const std::optional<bool> exists = access.withAccess(folder, [&] { return itemExists(destination); });
        if (exists.value_or(false)) return Outcome::collision(destination);
    }

    // 8. A private working folder, removed on every path from here on.
    std::optional<WorkFolder> work;
    try {
        work.emplace(WorkFolder::temporaryDirectory());
    } catch (const std::exception& e) {
        return Outcome::failed(std::string("Cannot create the temporary folder: ") + e.what());
    }

    // 9. Convert through the engine, which validates the output.
    job->targetFormat = to;
    fs::path produced;
    try {
        produced = ConversionEngine::convert(*job, work->path(), progress, engine);
    } catch (const std::exception& e) {
        return Outcome::failed(describe(e));
    } catch (...) {
        return Outcome::failed(ConversionError::conversionFailed().what());
    }

    // 10. Put the result in place without ever overwriting a file that appeared meanwhile.
    std::optional<Placement> placement;
    try {
        placement = access.withAccess(folder, [&] { return place(produced, destination, replaceExisting); });
    } catch (const std::exception& e) {
        return Outcome::failed(describe(e));
    }

    // 11. The outcome of the move.
    if (!placement) return Outcome::needsAuthorization(folder);
    if (*placement == Placement::collisionAppeared) return Outcome::collision(destination);
    ConversionLogger::shared().success("Converted in place", "Files", lastPathComponent(destination));
    return Outcome::converted(destination);
}

}  // namespace

Outcome InPlaceConversion::convert(const fs::path& source, SupportedFormat to, bool replaceExisting,
                                   const ConversionEngine::ProgressHandler& progress) {
    return convert(source, to, replaceExisting, progress, ConversionEngine::Collaborators::standard());
}

Outcome InPlaceConversion::convert(const fs::path& source, SupportedFormat to, bool replaceExisting,
                                   const ConversionEngine::ProgressHandler& progress,
                                   const ConversionEngine::Collaborators& engine) {
    try {
        return run(source, to, replaceExisting, progress, engine);
    } catch (const std::exception& e) {
        return Outcome::failed(e.what());
    } catch (...) {
        return Outcome::failed(ConversionError::conversionFailed().what());
    }
}

}  // namespace calvoro
