#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/imaging/row_progress.h"

namespace calvoro::imaging {

// Rows handed from a decoder on a thread of its own to an encoder on the calling thread through
// a ring of a few bands: decode and encode overlap, and the picture is never held whole.
class RowRelay {
public:
    // Runs decode on a new thread and, once it has started the rows, encode on this one. True
    // when both went through. False when the decoder declined (returned without start), no
    // thread could be had, or either side failed with a ConversionError: the whole-picture path
    // then does the job and reports any fault as it always has. Anything else is rethrown.
    static bool run(const std::function<void(RowRelay&)>& decode, const std::function<void(RowRelay&)>& encode);

    // Decoder side: once the picture's size is known, sets up the ring and lets the encoder start.
    void start(size_t rowBytes, int height);
    // Where row y is to be decoded, once the encoder is done with the row that slot held;
    // nullptr when the encoder has stopped.
    uint8_t* rowToFill(int y);
    // Row y is complete.
    void filled(int y);

    // Encoder side: row y once decoded, valid until the next ask (rows are asked in order, and
    // asking frees those before); nullptr when no more rows will come.
    const uint8_t* row(int y);

private:
    RowRelay() = default;
    uint8_t* slot(int y);

    size_t rowBytes_ = 0;
    int height_ = 0;
    int filled_ = 0;
    int available_ = 0;
    bool started_ = false;
    std::vector<uint8_t> ring_;
    RowProgress ready_;    // 1 once started; failed when the decoder declined or failed first
    RowProgress decoded_;  // rows in the ring
    RowProgress encoded_;  // rows the encoder is done with (their slots are free again)
};

}  // namespace calvoro::imaging
