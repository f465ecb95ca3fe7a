#pragma once

// gzip and xz as streams: decoders pull from a ByteSource, encoders push into a ByteSink, each
// holding only its own fixed buffers. Decoding reads every concatenated member or stream.

#include <cstdint>
#include <memory>
#include <stdexcept>

#include "core/byte_pipe.h"
#include "core/cancellation.h"
#include "platform/compression/lzma_codec.h"

namespace calvoro::compression {

struct StreamError : std::runtime_error {
    // badChecksum, badLength: a gzip member's trailer disagrees with the data it closes.
    enum class Kind { notThisFormat, truncated, damaged, needsTooMuchMemory, badChecksum, badLength };
    StreamError(Kind k, int c) : std::runtime_error("compressed stream failed"), kind(k), code(c) {}
    Kind kind;
    int code;  // the library's return code
};

// Throws StreamError while reading; the gzip decoder compares every member's CRC-32 and length
// with its trailer.
std::unique_ptr<ByteSource> gzipDecoder(ByteSource& from);
std::unique_ptr<ByteSource> xzDecoder(ByteSource& from);

// gzip as independent members of a few megabytes each (every reader joins them), so that the
// whole-buffer encoder serves a stream. Header as compressGzip writes it: zero time, OS 255.
std::unique_ptr<ByteSink> gzipEncoder(ByteSink& to);
// One xz stream (CRC-64) in blocks of LzmaCodec::encoderBlockSize compressed on `threads` threads
// (0: as many as the processors this process may use and the memory budget allow), the same
// bytes whatever the threads. A cancelled token stops it within a fraction of a second with
// CancellationError; the blocks under way are dropped.
std::unique_ptr<ByteSink> xzEncoder(ByteSink& to, const CancellationToken& cancellation = {}, uint32_t threads = 0,
                                    uint32_t preset = LzmaCodec::defaultPreset);

// Bare DEFLATE (no framing) through zlib, for ZIP entries too large to hold whole. The decoder
// ends at the stream's final block and throws StreamError (truncated or damaged) while reading.
std::unique_ptr<ByteSource> rawDeflateDecoder(ByteSource& from);
std::unique_ptr<ByteSink> rawDeflateEncoder(ByteSink& to, int level = 6);

}  // namespace calvoro::compression
