#pragma once

// Byte, name and folder routines that the ZIP, TAR and gzip code share.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/byte_order.h"
#include "core/byte_pipe.h"
#include "core/conversion_error.h"

namespace calvoro::zip {

// Walk of a folder tree: children in name order (byte-wise, so output never depends on the
// file system's listing order), file-manager metadata skipped, a folder before what it holds.
std::vector<std::string> gatherDirectories(const std::filesystem::path& in, const std::filesystem::path& relativeTo);
std::vector<std::pair<std::string, std::filesystem::path>> gatherFiles(const std::filesystem::path& in,
                                                                       const std::filesystem::path& relativeTo);
std::string relativePath(const std::filesystem::path& item, const std::filesystem::path& under);
// .DS_Store, AppleDouble "._" files and __MACOSX folders: written by file managers, never content.
bool isFileManagerMetadata(const std::string& name);

// ZIP and gzip fields are little-endian.
inline void appendUInt16(std::vector<uint8_t>& buffer, uint16_t value) { byte_order::putLE16(buffer, value); }
inline void appendUInt32(std::vector<uint8_t>& buffer, uint32_t value) { byte_order::putLE32(buffer, value); }
inline uint16_t readUInt16(std::span<const uint8_t> data, size_t offset) { return byte_order::le16(data, offset); }
inline uint32_t readUInt32(std::span<const uint8_t> data, size_t offset) { return byte_order::le32(data, offset); }

// Raw DEFLATE of data; throws ConversionError::conversionFailed when the encoder fails.
std::vector<uint8_t> compressDeflate(std::span<const uint8_t> data);
// Raw DEFLATE decoding, at most limit bytes. Throws corruptFile "Cannot decompress data" for a
// stream that does not decode; returns nothing when the stream holds more than limit bytes.
std::optional<std::vector<uint8_t>> decompressRawDeflate(std::span<const uint8_t> data, int64_t expectedSize, int64_t limit);
uint32_t crc32Checksum(std::span<const uint8_t> data);

struct DosTimestamp {
    uint16_t time = 0;
    uint16_t date = 0;
};
DosTimestamp dosTimestamp(std::chrono::system_clock::time_point instant);
// The local time a DOS timestamp names; nothing when its fields name no day.
std::optional<std::chrono::system_clock::time_point> dosTime(DosTimestamp stamp);

// Offset of the ZIP end record nearest to the end (searched in the last 65,557 bytes).
std::optional<size_t> findEOCD(std::span<const uint8_t> data);

// Stored names: UTF-8, else Windows-1252, else ISO 8859-1.
std::string decodeArchiveName(std::span<const uint8_t> bytes);
// A relative path without empty, "." or ".." components, "\" read as "/"; empty when nothing remains.
std::string sanitizePath(const std::string& path);

// The refusal of links and special files that a tree of plain files cannot hold, naming the
// first three of them (of count in all, when only the first are kept).
std::string refusedEntriesMessage(const std::vector<std::string>& names);
std::string refusedEntriesMessage(const std::vector<std::string>& firstNames, size_t count);

// Makes the folders that lead to path below root, then has write put the file at root/path.
// The file system's refusals come back in the program's words: a file of the archive standing
// where another member needs a folder, or a folder where a file goes, names both members; a
// name longer than the system takes says so. Other failures pass unchanged.
void unpackEntry(const std::filesystem::path& root, const std::string& path,
                 const std::function<void(const std::filesystem::path&)>& write);
ConversionError nameTooLongToUnpack(const std::string& name);

// ZIP entries up to this size are held whole (the whole-buffer codec is the faster); larger ones
// stream through in pieces.
constexpr uint64_t kWholeEntryLimit = 16 << 20;

// Plain (replacing, not atomic) writing; failures throw filesystem_error.
void writeFileBytes(const std::filesystem::path& path, std::span<const uint8_t> data);
// Reads a whole file into buffer, reusing its memory from file to file; returns the bytes read.
std::span<const uint8_t> readFileInto(const std::filesystem::path& path, std::vector<uint8_t>& buffer);
using calvoro::writeAll;
// The file's modification time, when it has one.
std::optional<std::chrono::system_clock::time_point> modificationTime(const std::filesystem::path& path);
// Sets a file's modification (and access) time; failures throw filesystem_error.
void setModificationTime(const std::filesystem::path& path, std::chrono::system_clock::time_point when);

}  // namespace calvoro::zip
