#pragma once

#include <filesystem>
#include <functional>

#include "core/cancellation.h"
#include "core/conversion_job.h"
#include "core/supported_format.h"
#include "engine/validator.h"

namespace calvoro {

// The one road of every conversion: checks the job, routes it to one converter, times and
// logs it, refuses an empty output and has every single-file output validated.
class ConversionEngine {
public:
    // Called with values from 0 to 1, from any thread.
    using ProgressHandler = std::function<void(double)>;
    using Router = std::function<std::filesystem::path(const ConversionJob& job, SupportedFormat target,
                                                       const std::filesystem::path& outputDir,
                                                       const ProgressHandler& progressHandler,
                                                       const CancellationToken& cancellation)>;
    using Check = std::function<Validator::ValidationStatus(SupportedFormat target, const std::filesystem::path& output)>;

    // What a conversion hands its work to; tests put stand-ins here.
    struct Collaborators {
        Router dispatch;
        Check validate;
        // The real router and validator.
        static Collaborators standard();
    };

    // Returns the written file, or for the page targets the folder of pages. Throws
    // ConversionError (noTargetSelected, failedToCreateOutput, emptyOutput, corruptFile),
    // CancellationError once the token is cancelled (nothing is left behind), or whatever the
    // converter or the file system threw, unchanged.
    static std::filesystem::path convert(const ConversionJob& job, const std::filesystem::path& outputDir,
                                         const ProgressHandler& progressHandler);
    static std::filesystem::path convert(const ConversionJob& job, const std::filesystem::path& outputDir,
                                         const ProgressHandler& progressHandler, const CancellationToken& cancellation);
    static std::filesystem::path convert(const ConversionJob& job, const std::filesystem::path& outputDir,
                                         const ProgressHandler& progressHandler, const Collaborators& with);
    static std::filesystem::path convert(const ConversionJob& job, const std::filesystem::path& outputDir,
                                         const ProgressHandler& progressHandler, const Collaborators& with,
                                         const CancellationToken& cancellation);

    // "Calvoro" in the user's documents folder (else the data folder, else the temporary
    // folder), created when missing. Never fails.
    static std::filesystem::path defaultOutputDirectory();

    // Picks exactly one converter by the source format (and for PDF, video and GIF sources
    // by the target) and returns what it wrote. Errors pass through unchanged.
    static std::filesystem::path dispatch(const ConversionJob& job, SupportedFormat target,
                                          const std::filesystem::path& outputDir, const ProgressHandler& progressHandler,
                                          const CancellationToken& cancellation = {});

    ConversionEngine() = delete;
};

}  // namespace calvoro
