#pragma once

#include <atomic>

namespace calvoro {

// Set by the screenshot mode before it makes any view model, never cleared: the view model and
// the views then draw a still, predictable picture.
struct ScreenshotMode {
    static std::atomic<bool> active;
};

}  // namespace calvoro
