#pragma once

#include <filesystem>
#include <string>

#include "core/supported_format.h"
#include "engine/conversion_engine.h"

namespace calvoro {

// Converts a file and puts the result beside it under the source's base name with the
// target's extension. Only a finished, validated output reaches the source's folder, and an
// existing file there is replaced only when the caller asks for it. The source never changes.
class InPlaceConversion {
public:
    class Outcome {
    public:
        enum class Kind { converted, needsAuthorization, collision, failed };

        static Outcome converted(std::filesystem::path destination) { return {Kind::converted, std::move(destination), {}}; }
        static Outcome needsAuthorization(std::filesystem::path folder) { return {Kind::needsAuthorization, std::move(folder), {}}; }
        static Outcome collision(std::filesystem::path existing) { return {Kind::collision, std::move(existing), {}}; }
        static Outcome failed(std::string reason) { return {Kind::failed, {}, std::move(reason)}; }

        Kind kind() const { return kind_; }
        // The destination (converted), the folder (needsAuthorization) or the existing file (collision).
        const std::filesystem::path& url() const { return url_; }
        // The user-facing reason of a failure.
        const std::string& reason() const { return reason_; }

        friend bool operator==(const Outcome&, const Outcome&) = default;

    private:
        Outcome(Kind kind, std::filesystem::path url, std::string reason)
            : kind_(kind), url_(std::move(url)), reason_(std::move(reason)) {}
        Kind kind_;
        std::filesystem::path url_;
        std::string reason_;
    };

    // Never throws: every failure is an outcome.
    static Outcome convert(const std::filesystem::path& source, SupportedFormat to, bool replaceExisting,
                           const ConversionEngine::ProgressHandler& progress = {});
    // The same with a stand-in router or validator for the engine (tests).
    static Outcome convert(const std::filesystem::path& source, SupportedFormat to, bool replaceExisting,
                           const ConversionEngine::ProgressHandler& progress, const ConversionEngine::Collaborators& engine);

    InPlaceConversion() = delete;
};

}  // namespace calvoro
