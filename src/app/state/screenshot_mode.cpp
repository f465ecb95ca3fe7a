#include "app/state/screenshot_mode.h"

namespace calvoro {

std::atomic<bool> ScreenshotMode::active{false};

}  // namespace calvoro
