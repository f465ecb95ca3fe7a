#pragma once

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
    enum class Kind { unsupported, needsFolderAccess, collision, engine, noFileURL };

    static ConversionIntentError unsupported(const std::string& choice);
    static ConversionIntentError needsFolderAccess(const std::string& folderName);
    static ConversionIntentError collision(const std::string& fileName);
    static ConversionIntentError engine(const std::string& message);
    static ConversionIntentError noFileURL();

    Kind kind() const { return kind_; }

private:
    ConversionIntentError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind_;
};

}  // namespace calvoro
