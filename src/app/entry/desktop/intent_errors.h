#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace calvoro {

// Why "Convert File" could not run; what() is the message the user reads.
class ConvertIntentError : public std::runtime_error {
public:
    enum class Kind { unsupportedInput, unsupportedConversion };

    static ConvertIntentError unsupportedInput(const std::string& name);
    static ConvertIntentError unsupportedConversion(const std::string& from, const std::string& to);

    Kind kind() const { return kind_; }

private:
    ConvertIntentError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind_;
};

// Why "Convert File in Place" could not run; what() is the message the user reads.
class ConversionIntentError : public std::runtime_error {
public:
    enum class Kind { unsupported, needsFolderAccess, collision, engine, noFileURL, fileNotFound };

    static ConversionIntentError unsupported(const std::string& choice);
    static ConversionIntentError needsFolderAccess(const std::string& folderName);
    static ConversionIntentError collision(const std::string& fileName);
    static ConversionIntentError engine(const std::string& message);
    static ConversionIntentError noFileURL();
    // Said before anything else looks at a path that leads nowhere.
    static ConversionIntentError fileNotFound(const std::string& fileName);

    Kind kind() const { return kind_; }

private:
    ConversionIntentError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind_;
};

// The converted file is larger than the caller can take back (a D-Bus reply has a limit).
class IntentResultTooLarge : public std::runtime_error {
public:
    IntentResultTooLarge(std::string name, std::uint64_t size, std::uint64_t limit)
        : std::runtime_error("The converted file is too large to return."), name_(std::move(name)), size_(size), limit_(limit) {}

    const std::string& name() const { return name_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t limit() const { return limit_; }

private:
    std::string name_;
    std::uint64_t size_;
    std::uint64_t limit_;
};

}  // namespace calvoro
