#include "app/entry/desktop/intent_errors.h"

namespace calvoro {

ConvertIntentError ConvertIntentError::unsupportedInput(const std::string& name) {
    return {Kind::unsupportedInput, "Calvoro can't read \u201C" + name + "\u201D \u2014 it isn't a supported file type."};
}

ConvertIntentError ConvertIntentError::unsupportedConversion(const std::string& from, const std::string& to) {
    return {Kind::unsupportedConversion,
            from + " can't be converted to " + to + ". Check All Conversions in the app for what's possible."};
}

ConversionIntentError ConversionIntentError::unsupported(const std::string& choice) {
    return {Kind::unsupported, "Calvoro can't write " + choice + " for this file."};
}

ConversionIntentError ConversionIntentError::needsFolderAccess(const std::string& folderName) {
    return {Kind::needsFolderAccess, "Calvoro needs permission to save into \u201C" + folderName +
                                         "\u201D. Open Calvoro \u2192 Settings \u2192 Files \u2192 Allow a folder, then try again."};
}

ConversionIntentError ConversionIntentError::collision(const std::string& fileName) {
    return {Kind::collision, "\u201C" + fileName + "\u201D already exists. Turn on Replace existing file to overwrite it."};
}

ConversionIntentError ConversionIntentError::engine(const std::string& message) { return {Kind::engine, message}; }

ConversionIntentError ConversionIntentError::noFileURL() {
    return {Kind::noFileURL, "That item has no file on disk to convert."};
}

ConversionIntentError ConversionIntentError::fileNotFound(const std::string& fileName) {
    return {Kind::fileNotFound, "\u201C" + fileName + "\u201D doesn't exist. Check the path and try again."};
}

}  // namespace calvoro
