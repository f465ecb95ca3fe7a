#include "core/picture_ending.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "core/conversion_error.h"
#include "core/gif_blocks.h"
#include "core/source_file.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

// Closes the handle on every way out; a failure to close is of no interest.
struct FileHandle {
    int fd = -1;
    ~FileHandle() {
        if (fd >= 0) ::close(fd);
    }
};

ssize_t readFully(int fd, uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, buffer + done, count - done);
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

std::optional<std::string> pictureTruncation(const std::filesystem::path& url) {
    FileHandle file;
    try {
        file.fd = SourceFile(url).release();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return std::nullopt;
    const off_t size = st.st_size;
    if (size < 17) return std::nullopt;
    uint8_t head[8];
    if (readFully(file.fd, head, 8) != 8) return std::nullopt;
    ::lseek(file.fd, size - 12, SEEK_SET);  // a failed seek leaves the tail to tell
    uint8_t tail[12];
    const ssize_t tailLength = readFully(file.fd, tail, 12);
    if (tailLength <= 0) return std::nullopt;
    const size_t n = static_cast<size_t>(tailLength);

    bool complete;
    if (head[0] == 0x47 && head[1] == 0x49 && head[2] == 0x46 && head[3] == 0x38) {
        // Bytes after the trailer are common and harmless: the blocks tell where the data ends.
        complete = gifReachesTrailer(url) != false;
    } else if (head[0] == 0x89 && head[1] == 0x50 && head[2] == 0x4E && head[3] == 0x47) {
        complete = n >= 8 && tail[n - 8] == 0x49 && tail[n - 7] == 0x45 && tail[n - 6] == 0x4E && tail[n - 5] == 0x44;
    } else if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        complete = n >= 2 && tail[n - 2] == 0xFF && tail[n - 1] == 0xD9;
    } else {
        return std::nullopt;
    }
    if (complete) return std::nullopt;
    return ConversionError::truncatedSource(lastPathComponent(url), "image").payload();
}

}  // namespace calvoro
