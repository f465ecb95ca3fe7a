#pragma once

#include <stdexcept>
#include <string>

namespace calvoro {

// The one error type of the conversion core; what() is the user-facing message.
class ConversionError : public std::exception {
public:
    enum class Kind {
        unsupportedConversion,
        converterNotAvailable,
        sandboxDenied,
        exportSessionFailed,
        fileAccessDenied,
        corruptFile,
        failedToLoadFile,
        unsupportedFormat,
        failedToCreateOutput,
        conversionFailed,
        emptyOutput,
        cancelled,
        noTargetSelected,
        sourceIsFolder,
        notRegularFile,
        alreadySmaller,
        unrepresentableEntries,
    };

    static ConversionError unsupportedConversion(std::string from, std::string to);
    static ConversionError converterNotAvailable(std::string name);
    static ConversionError sandboxDenied(std::string item);
    static ConversionError exportSessionFailed(std::string reason);
    static ConversionError fileAccessDenied(std::string path);
    static ConversionError corruptFile(std::string what);
    static ConversionError failedToLoadFile() { return ConversionError(Kind::failedToLoadFile); }
    static ConversionError unsupportedFormat() { return ConversionError(Kind::unsupportedFormat); }
    static ConversionError failedToCreateOutput() { return ConversionError(Kind::failedToCreateOutput); }
    static ConversionError conversionFailed() { return ConversionError(Kind::conversionFailed); }
    static ConversionError emptyOutput() { return ConversionError(Kind::emptyOutput); }
    static ConversionError cancelled() { return ConversionError(Kind::cancelled); }
    static ConversionError noTargetSelected() { return ConversionError(Kind::noTargetSelected); }
    static ConversionError sourceIsFolder(std::string name);
    // A FIFO, a device or a socket: nothing a conversion can read to its end.
    static ConversionError notRegularFile(std::string name);
    // Compression at the named level would not make the file smaller.
    static ConversionError alreadySmaller(std::string levelLabel);
    // An archive holds links or special files that a tree of plain files cannot carry: a whole
    // archive refused for what it is, not because it is damaged. The payload is the message.
    static ConversionError unrepresentableEntries(std::string message);
    // corruptFile for a source that ends before its own header says it does; content names what
    // is then present only in part ("image", "sound").
    static ConversionError truncatedSource(const std::string& fileName, const std::string& content);

    explicit ConversionError(Kind kind, std::string a = {}, std::string b = {});

    Kind kind() const noexcept { return kind_; }
    // First and second payload strings (empty for the cases without one).
    const std::string& payload() const noexcept { return a_; }
    const std::string& secondPayload() const noexcept { return b_; }
    const std::string& errorDescription() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Kind kind_;
    std::string a_;
    std::string b_;
    std::string message_;
};

}  // namespace calvoro
