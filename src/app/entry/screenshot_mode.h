#pragma once

namespace calvoro {

// Set by the screenshot mode before any view model exists, never cleared: the view model and the
// views then draw a still, predictable picture. Main thread only. Inline, so that the program and
// the window module share the one switch without either linking the other.
struct ScreenshotMode {
    static inline bool active = false;
};

}  // namespace calvoro
