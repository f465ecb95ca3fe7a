#pragma once

// The gzip container (RFC 1952) around raw DEFLATE.

#include <cstdint>
#include <span>
#include <vector>

namespace calvoro::ArchiveConverter {

// Every member of a gzip file, one after another, at most maxOutputBytes in all (corruptFile
// "gzip contents exceed the ... limit" beyond). A member whose trailer CRC-32 or length disagrees
// with its data throws corruptFile "GZIP checksum mismatch" or "GZIP length mismatch".
std::vector<uint8_t> decompressGzip(std::span<const uint8_t> data, int64_t maxOutputBytes = 2147483648LL);
// One member: 1F 8B 08 00, zero time, XFL 0, OS 255, the deflated data, CRC-32 and length.
std::vector<uint8_t> compressGzip(std::span<const uint8_t> data);
// At least 263 bytes with "ustar" at offset 257.
bool isTarArchive(std::span<const uint8_t> data);

}  // namespace calvoro::ArchiveConverter
