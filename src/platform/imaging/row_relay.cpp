#include "platform/imaging/row_relay.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

#include "core/conversion_error.h"

namespace calvoro::imaging {

namespace {

// Rows between the decoder and the encoder: a few MCU bands, a few MB for the widest pictures.
constexpr int ringRows = 128;
// Each side tells the other of its progress a band at a time.
constexpr int band = 16;

}  // namespace

void RowRelay::start(size_t rowBytes, int height) {
    rowBytes_ = rowBytes;
    height_ = height;
    ring_.resize(rowBytes * static_cast<size_t>(std::min(ringRows, height)));
    started_ = true;
    ready_.advance(1);
}

uint8_t* RowRelay::slot(int y) { return ring_.data() + static_cast<size_t>(y % ringRows) * rowBytes_; }

uint8_t* RowRelay::rowToFill(int y) {
    if (y >= ringRows && encoded_.waitFor(y - ringRows + 1) < 0) return nullptr;
    return slot(y);
}

void RowRelay::filled(int y) {
    filled_ = y + 1;
    if (filled_ % band == 0 || filled_ == height_) decoded_.advance(filled_);
}

const uint8_t* RowRelay::row(int y) {
    if (y > 0 && y % band == 0) encoded_.advance(y);
    if (y >= available_ && (available_ = decoded_.waitFor(y + 1)) < 0) return nullptr;
    return slot(y);
}

bool RowRelay::run(const std::function<void(RowRelay&)>& decode, const std::function<void(RowRelay&)>& encode) {
    RowRelay relay;
    std::exception_ptr decodeFailure;
    std::jthread decoder;
    try {
        decoder = std::jthread([&] {
            try {
                decode(relay);
                // A decoder that stops short without failing leaves no encoder waiting.
                if (!relay.started_) relay.ready_.fail();
                else if (relay.filled_ < relay.height_) relay.decoded_.fail();
            } catch (...) {
                decodeFailure = std::current_exception();
                relay.ready_.fail();
                relay.decoded_.fail();
            }
        });
    } catch (const std::system_error&) {
        return false;  // no thread to spare: the whole-picture path needs none
    }

    bool encodeFailed = false;
    if (relay.ready_.waitFor(1) >= 0) {
        try {
            encode(relay);
        } catch (const ConversionError&) {
            encodeFailed = true;
        } catch (...) {
            relay.encoded_.fail();  // the decoder is let go before it is joined
            throw;
        }
        relay.encoded_.fail();  // nothing more is taken: a decoder still waiting stops
    }
    decoder.join();
    if (decodeFailure) {
        // Anything but a ConversionError (memory running out) is no reason to try again.
        try {
            std::rethrow_exception(decodeFailure);
        } catch (const ConversionError&) {
        }
        return false;
    }
    return relay.started_ && !encodeFailed;
}

}  // namespace calvoro::imaging
