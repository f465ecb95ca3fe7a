#pragma once

// Bytes pulled from a source or pushed into a sink a piece at a time, so that a chain of decoders
// or encoders never holds more than its own buffers.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace calvoro {

// Writes all of data to an open descriptor; failures throw filesystem_error naming path.
void writeAll(int fd, std::span<const uint8_t> data, const std::filesystem::path& path);

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills the front of into; returns how many bytes, 0 only at the end.
    virtual size_t read(std::span<uint8_t> into) = 0;
    // Reads until into is full or the source ends; returns how many bytes.
    size_t readFully(std::span<uint8_t> into);
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::span<const uint8_t> bytes) = 0;
    // Everything was written: flushes what is held back and ends the stream.
    virtual void finish() {}
};

class SpanSource final : public ByteSource {
public:
    explicit SpanSource(std::span<const uint8_t> data) : data_(data) {}
    size_t read(std::span<uint8_t> into) override;

private:
    std::span<const uint8_t> data_;
};

class VectorSink final : public ByteSink {
public:
    explicit VectorSink(std::vector<uint8_t>& out) : out_(out) {}
    void write(std::span<const uint8_t> bytes) override { out_.insert(out_.end(), bytes.begin(), bytes.end()); }

private:
    std::vector<uint8_t>& out_;
};

// An open file read from its start; failures throw std::filesystem::filesystem_error.
class FileSource final : public ByteSource {
public:
    explicit FileSource(const std::filesystem::path& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    size_t read(std::span<uint8_t> into) override;
    int descriptor() const { return fd_; }

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

// A new or truncated file, written through a buffer; finish() flushes and closes it.
class FileSink final : public ByteSink {
public:
    explicit FileSink(const std::filesystem::path& path);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    void write(std::span<const uint8_t> bytes) override;
    void finish() override;

private:
    void flush();
    std::filesystem::path path_;
    int fd_ = -1;
    std::vector<uint8_t> buffer_;
};

}  // namespace calvoro
