#pragma once

#include <stdexcept>
#include <string>

namespace calvoro::media {

// A failure of the media layer itself (not a conversion error); what() is its description.
class MediaError : public std::runtime_error {
public:
    explicit MediaError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace calvoro::media
