#include "core/conversion_error.h"

namespace calvoro {

namespace {

std::string messageFor(ConversionError::Kind kind, const std::string& a, const std::string& b) {
    using K = ConversionError::Kind;
    switch (kind) {
        case K::unsupportedConversion: return "Converting " + a + " \u2192 " + b + " is not supported.";
        case K::converterNotAvailable: return "The converter '" + a + "' is not available on this system.";
        case K::sandboxDenied: return "File access denied: " + a + ". Please grant permission.";
        case K::exportSessionFailed: return "Export failed: " + a;
        case K::fileAccessDenied: return "Cannot access file at " + a + ". Try re-adding the file.";
        case K::corruptFile: return "File appears corrupt: " + a;
        case K::failedToLoadFile: return "Could not read the source file. It may be corrupted or in an unsupported variant.";
        case K::unsupportedFormat: return "This file format is not supported for conversion.";
        case K::failedToCreateOutput: return "Could not create the output file. Check disk space and permissions.";
        case K::conversionFailed: return "Conversion failed unexpectedly.";
        case K::emptyOutput: return "Conversion produced an empty file.";
        case K::cancelled: return "Conversion was cancelled.";
        case K::noTargetSelected: return "No target format selected.";
        case K::sourceIsFolder: return a + " is a folder, not a file. Choose the files inside it to convert them.";
        case K::notRegularFile: return a + " is not a regular file.";
        case K::alreadySmaller: return "The file is already smaller than the " + a + " level would make it. Nothing was written.";
        case K::unrepresentableEntries: return a;
    }
    return "Conversion failed unexpectedly.";
}

}  // namespace

ConversionError::ConversionError(Kind kind, std::string a, std::string b)
    : kind_(kind), a_(std::move(a)), b_(std::move(b)), message_(messageFor(kind_, a_, b_)) {}

ConversionError ConversionError::unsupportedConversion(std::string from, std::string to) {
    return ConversionError(Kind::unsupportedConversion, std::move(from), std::move(to));
}
ConversionError ConversionError::converterNotAvailable(std::string name) {
    return ConversionError(Kind::converterNotAvailable, std::move(name));
}
ConversionError ConversionError::sandboxDenied(std::string item) { return ConversionError(Kind::sandboxDenied, std::move(item)); }
ConversionError ConversionError::exportSessionFailed(std::string reason) {
    return ConversionError(Kind::exportSessionFailed, std::move(reason));
}
ConversionError ConversionError::fileAccessDenied(std::string path) {
    return ConversionError(Kind::fileAccessDenied, std::move(path));
}
ConversionError ConversionError::corruptFile(std::string what) { return ConversionError(Kind::corruptFile, std::move(what)); }
ConversionError ConversionError::truncatedSource(const std::string& fileName, const std::string& content) {
    return corruptFile(fileName + " is truncated \u2014 the file is missing its ending, so only part of the " + content + " is present.");
}
ConversionError ConversionError::sourceIsFolder(std::string name) { return ConversionError(Kind::sourceIsFolder, std::move(name)); }
ConversionError ConversionError::notRegularFile(std::string name) { return ConversionError(Kind::notRegularFile, std::move(name)); }
ConversionError ConversionError::alreadySmaller(std::string levelLabel) {
    return ConversionError(Kind::alreadySmaller, std::move(levelLabel));
}
ConversionError ConversionError::unrepresentableEntries(std::string message) {
    return ConversionError(Kind::unrepresentableEntries, std::move(message));
}

}  // namespace calvoro
