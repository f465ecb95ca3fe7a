#include "platform/zip/zip_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <system_error>

#include "core/conversion_error.h"
#include "core/uuid.h"
#include "platform/compression/stream_codecs.h"
#include "platform/zip/zip_archive.h"

namespace calvoro::zip {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kFolderAttributes = 0x41ED0010;  // 040755 and the MS-DOS directory bit
constexpr uint32_t kFileAttributes = 0x81A40000;    // 0100644

}  // namespace

// What the format cannot hold is refused for what it is, not as damage of the source.
uint16_t checkedU16(int64_t value, const std::string& quantity) {
    if (value < 0 || value > 65535)
        throw ConversionError::unrepresentableEntries("Archive has too many " + quantity + " for ZIP (max 65,535) \u2014 try TAR instead");
    return static_cast<uint16_t>(value);
}

uint32_t checkedU32(int64_t value, const std::string& quantity) {
    // 0xFFFFFFFF itself would read as a ZIP64 marker.
    if (value < 0 || value > 4294967294LL)
        throw ConversionError::unrepresentableEntries("Archive " + quantity + " exceeds the 4 GB ZIP limit \u2014 try TAR instead");
    return static_cast<uint32_t>(value);
}

void ZipWriter::addFolder(std::string path) {
    if (!path.ends_with('/')) path += '/';
    addEntry(path, 0, DosTimestamp{}, 0, {}, 0, kFolderAttributes);
}

void ZipWriter::reserve(size_t centralBytes, size_t localBytes) {
    central_.reserve(centralBytes);
    if (fd_ < 0) local_.reserve(localBytes);
}

void ZipWriter::emit(std::span<const uint8_t> bytes) {
    if (fd_ >= 0)
        writeAll(fd_, bytes, path_);
    else
        local_.insert(local_.end(), bytes.begin(), bytes.end());
    localSize_ += bytes.size();
}

void ZipWriter::addFile(const std::string& path, std::span<const uint8_t> content, DosTimestamp timestamp, bool allowDeflate) {
    std::span<const uint8_t> deflated;
    // Room for one byte less than the content: a stream that does not fit is not worth keeping.
    if (allowDeflate && content.size() > 1) deflated = encoder_.deflate(content, content.size() - 1);
    const bool useDeflate = !deflated.empty() && deflated.size() < content.size();
    uint32_t crc = crc32Checksum(content);
    if (useDeflate)
        addEntry(path, 8, timestamp, crc, deflated, static_cast<int64_t>(content.size()), kFileAttributes);
    else
        addEntry(path, 0, timestamp, crc, content, static_cast<int64_t>(content.size()), kFileAttributes);
}

void ZipWriter::addEntry(const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc,
                         std::span<const uint8_t> data, int64_t uncompressedSize, uint32_t externalAttributes) {
    uint32_t offset = checkedU32(static_cast<int64_t>(localSize_), "size");
    uint32_t compressedSize = checkedU32(static_cast<int64_t>(data.size()), "entry size");
    uint32_t size = checkedU32(uncompressedSize, "entry size");
    checkedU16(static_cast<int64_t>(name.size()), "filename bytes");
    // The local part must still be addressable after this entry for the central directory's offset.
    checkedU32(static_cast<int64_t>(localSize_ + 30 + name.size() + data.size()), "size");

    emitLocalHeader(name, method, timestamp, crc, compressedSize, size);
    emit(data);
    appendCentral(name, method, timestamp, crc, compressedSize, size, externalAttributes, offset);
}

namespace {

// What an encoder writes goes on into the archive.
class EntrySink final : public ByteSink {
public:
    explicit EntrySink(std::function<void(std::span<const uint8_t>)> emit) : emit_(std::move(emit)) {}
    void write(std::span<const uint8_t> bytes) override { emit_(bytes); }

private:
    std::function<void(std::span<const uint8_t>)> emit_;
};

// Copies exactly size bytes of the file into sink; returns their CRC-32.
uint32_t copyFile(const fs::path& file, uint64_t size, ByteSink& sink) {
    FileSource source(file);
    std::vector<uint8_t> buffer(256 * 1024);
    uint32_t crc = 0;
    uint64_t left = size;
    for (;;) {
        size_t n = source.read(std::span(buffer).first(static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(left, 1), buffer.size()))));
        if (n == 0) break;
        // A file in the middle of being changed would make the header lie.
        if (n > left) throw fs::filesystem_error("file changed while reading", file, std::make_error_code(std::errc::io_error));
        crc = compression::DeflateCodec::crc32(std::span(buffer).first(n), crc);
        sink.write(std::span(buffer).first(n));
        left -= n;
    }
    if (left != 0) throw fs::filesystem_error("file changed while reading", file, std::make_error_code(std::errc::io_error));
    return crc;
}

void patchUInt(int fd, uint64_t at, uint32_t value, int bytes, const fs::path& path) {
    std::vector<uint8_t> field;
    appendUInt32(field, value);
    if (::pwrite(fd, field.data(), static_cast<size_t>(bytes), static_cast<off_t>(at)) != bytes)
        throw fs::filesystem_error("cannot write file", path, std::error_code(errno, std::generic_category()));
}

}  // namespace

void ZipWriter::addFileStreamed(const std::string& path, const fs::path& file, uint64_t size, DosTimestamp timestamp,
                                bool allowDeflate) {
    if (fd_ < 0) {
        std::vector<uint8_t> buffer;
        addFile(path, readFileInto(file, buffer), timestamp, allowDeflate);
        return;
    }
    const uint32_t offset = checkedU32(static_cast<int64_t>(localSize_), "size");
    const uint32_t size32 = checkedU32(static_cast<int64_t>(size), "entry size");
    checkedU16(static_cast<int64_t>(path.size()), "filename bytes");
    // Checked as if stored: a deflated form only stands when it is smaller.
    checkedU32(static_cast<int64_t>(localSize_ + 30 + path.size() + size), "size");

    const uint64_t dataStart = localSize_ + 30 + path.size();
    uint16_t method = allowDeflate && size > 1 ? 8 : 0;
    // CRC and compressed size are filled in once the data is out.
    emitLocalHeader(path, method, timestamp, 0, 0, size32);
    EntrySink sink([this](std::span<const uint8_t> bytes) { emit(bytes); });
    uint32_t crc = 0;
    if (method == 8) {
        auto encoder = compression::rawDeflateEncoder(sink);
        crc = copyFile(file, size, *encoder);
        encoder->finish();
        if (localSize_ - dataStart >= size) {
            // Not smaller deflated: stored instead, over what was written.
            if (::ftruncate(fd_, static_cast<off_t>(dataStart)) != 0 || ::lseek(fd_, static_cast<off_t>(dataStart), SEEK_SET) < 0)
                throw fs::filesystem_error("cannot write file", path_, std::error_code(errno, std::generic_category()));
            localSize_ = dataStart;
            method = 0;
        }
    }
    if (method == 0) crc = copyFile(file, size, sink);
    const auto compressedSize = static_cast<uint32_t>(localSize_ - dataStart);
    patchUInt(fd_, offset + 8, method, 2, path_);
    patchUInt(fd_, offset + 14, crc, 4, path_);
    patchUInt(fd_, offset + 18, compressedSize, 4, path_);
    appendCentral(path, method, timestamp, crc, compressedSize, size32, kFileAttributes, offset);
}

namespace {

// The fields a local header and its central record share: from the version needed to extract
// (2.0) to the length of the extra field, which is empty.
void appendSharedFields(std::vector<uint8_t>& out, const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc,
                        uint32_t compressedSize, uint32_t size) {
    appendUInt16(out, 20);
    appendUInt16(out, 0);
    appendUInt16(out, method);
    appendUInt16(out, timestamp.time);
    appendUInt16(out, timestamp.date);
    appendUInt32(out, crc);
    appendUInt32(out, compressedSize);
    appendUInt32(out, size);
    appendUInt16(out, static_cast<uint16_t>(name.size()));
    appendUInt16(out, 0);
}

}  // namespace

void ZipWriter::emitLocalHeader(const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc,
                                uint32_t compressedSize, uint32_t size) {
    header_.clear();
    appendUInt32(header_, 0x04034B50);
    appendSharedFields(header_, name, method, timestamp, crc, compressedSize, size);
    header_.insert(header_.end(), name.begin(), name.end());
    emit(header_);
}

void ZipWriter::appendCentral(const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc,
                              uint32_t compressedSize, uint32_t size, uint32_t externalAttributes, uint32_t offset) {
    appendUInt32(central_, 0x02014B50);
    appendUInt16(central_, 0x031E);  // made by: Unix, 3.0
    appendSharedFields(central_, name, method, timestamp, crc, compressedSize, size);
    appendUInt16(central_, 0);  // comment length
    appendUInt16(central_, 0);  // disk number
    appendUInt16(central_, 0);  // internal attributes
    appendUInt32(central_, externalAttributes);
    appendUInt32(central_, offset);
    central_.insert(central_.end(), name.begin(), name.end());
    ++count_;
}

std::vector<uint8_t> ZipWriter::finish() {
    uint16_t entries = checkedU16(count_, "entries");
    uint32_t centralOffset = checkedU32(static_cast<int64_t>(localSize_), "size");
    uint32_t centralSize = checkedU32(static_cast<int64_t>(central_.size()), "central directory size");
    std::vector<uint8_t> out;
    if (fd_ < 0) {
        out = std::move(local_);
        out.reserve(out.size() + central_.size() + 22);  // no move when reserve() guessed right
    }
    out.insert(out.end(), central_.begin(), central_.end());
    appendUInt32(out, 0x06054B50);
    appendUInt16(out, 0);
    appendUInt16(out, 0);
    appendUInt16(out, entries);
    appendUInt16(out, entries);
    appendUInt32(out, centralSize);
    appendUInt32(out, centralOffset);
    appendUInt16(out, 0);
    local_.clear();
    central_.clear();
    localSize_ = 0;
    count_ = 0;
    if (fd_ >= 0) {
        writeAll(fd_, out, path_);
        return {};
    }
    return out;
}

namespace {

// The archive is written beside its final path and renamed over it only when complete, so that a
// failure leaves whatever was at `to` untouched and no partial file behind.
class PartialFile {
public:
    explicit PartialFile(const fs::path& to)
        : path_(to.parent_path() / (".calvoro-" + Uuid().uuidString() + ".partial")) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0) throw fs::filesystem_error("cannot write file", to, std::error_code(errno, std::generic_category()));
    }
    ~PartialFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(path_.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    int fd() const { return fd_; }
    const fs::path& path() const { return path_; }
    void commit(const fs::path& to) {
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) throw fs::filesystem_error("cannot write file", to, std::error_code(errno, std::generic_category()));
        if (::rename(path_.c_str(), to.c_str()) != 0)
            throw fs::filesystem_error("cannot write file", to, std::error_code(errno, std::generic_category()));
        committed_ = true;
    }

private:
    fs::path path_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace

void createZIP(const fs::path& from, const fs::path& to, const std::string& firstStoredEntry,
               const CancellationToken& cancellation) {
    std::string first = firstStoredEntry.empty() ? std::string() : sanitizePath(firstStoredEntry);
    auto folders = gatherDirectories(from, from);
    auto files = gatherFiles(from, from);
    // Too many is known before anything is written.
    checkedU16(static_cast<int64_t>(folders.size() + files.size()), "entries");
    size_t centralBytes = 0;
    for (const auto& folder : folders) centralBytes += 47 + folder.size();
    for (const auto& file : files) centralBytes += 46 + file.first.size();

    PartialFile partial(to);
    ZipWriter writer(partial.fd(), partial.path());
    writer.reserve(centralBytes);
    std::vector<uint8_t> buffer;
    auto add = [&](const std::string& path, const fs::path& url, bool allowDeflate) {
        cancellation.throwIfCancelled();
        auto when = dosTimestamp(modificationTime(url).value_or(std::chrono::system_clock::now()));
        std::error_code ec;
        const auto size = fs::file_size(url, ec);
        // A large entry goes through in pieces, so that memory does not grow with it.
        if (!ec && size > kWholeEntryLimit && fs::is_regular_file(fs::symlink_status(url, ec))) {
            writer.addFileStreamed(path, url, size, when, allowDeflate);
            return;
        }
        writer.addFile(path, readFileInto(url, buffer), when, allowDeflate);
    };
    if (!first.empty()) add(first, from / first, false);
    for (const auto& folder : folders) writer.addFolder(folder);
    for (const auto& [path, url] : files)
        if (first.empty() || path != first) add(path, url, true);
    writer.finish();
    partial.commit(to);
}

std::vector<uint8_t> writeZIP(const std::vector<ZipEntry>& entries) {
    ZipWriter writer;
    const DosTimestamp now = dosTimestamp(std::chrono::system_clock::now());
    for (const auto& entry : entries) {
        if (entry.name.ends_with('/'))
            writer.addFolder(entry.name);
        else
            writer.addFile(entry.name, entry.data, now, entry.method == ZipMethod::deflate);
    }
    return writer.finish();
}

}  // namespace calvoro::zip
