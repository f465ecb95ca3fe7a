#pragma once

// libbz2's entry points, opened at run time (inside the bzip2 codec only).

#include <bzlib.h>

namespace calvoro::bzip2 {

struct Symbols {
    using BuffCompress = int (*)(char*, unsigned int*, char*, unsigned int, int, int, int);
    using BuffDecompress = int (*)(char*, unsigned int*, char*, unsigned int, int, int);
    using DecompressInit = int (*)(bz_stream*, int, int);
    using Decompress = int (*)(bz_stream*);
    using DecompressEnd = int (*)(bz_stream*);
    using CompressInit = int (*)(bz_stream*, int, int, int);
    using Compress = int (*)(bz_stream*, int);
    using CompressEnd = int (*)(bz_stream*);

    BuffCompress compress;
    BuffDecompress decompress;
    // The stream functions decode concatenated streams, which the whole-buffer call stops short of.
    DecompressInit streamInit;
    Decompress streamDecompress;
    DecompressEnd streamEnd;
    // The threaded encoder's, which lend the library memory it keeps from block to block.
    CompressInit encodeInit;
    Compress encodeStep;
    CompressEnd encodeEnd;
};

// Loaded once; null when the library is absent (or its absence is simulated).
const Symbols* symbols();

}  // namespace calvoro::bzip2
