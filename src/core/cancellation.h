#pragma once

#include <stdexcept>
#include <stop_token>

namespace calvoro {

// Thrown when a cancellable operation notices that its caller gave up.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "The operation was cancelled."; }
};

// A view of a stop request; a default token is never cancelled.
class CancellationToken {
public:
    CancellationToken() = default;
    explicit CancellationToken(std::stop_token token) : token_(std::move(token)) {}

    bool isCancelled() const noexcept { return token_.stop_requested(); }
    void throwIfCancelled() const {
        if (isCancelled()) throw CancellationError();
    }
    const std::stop_token& stopToken() const noexcept { return token_; }

private:
    std::stop_token token_;
};

}  // namespace calvoro
