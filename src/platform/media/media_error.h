#pragma once

#include <stdexcept>
#include <string>

namespace calvoro::media {

// A failure of the media layer itself (not a conversion error); what() is its description.
class MediaError : public std::runtime_error {
public:
    explicit MediaError(const std::string& message) : std::runtime_error(message) {}
};

// An encoder that will not take the sound it is given (its channels, its rate): nothing to do
// with the file being written. what() says which encoder and what it was given.
class EncoderRefused : public MediaError {
public:
    using MediaError::MediaError;
};

}  // namespace calvoro::media
