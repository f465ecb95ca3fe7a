#pragma once

#include "app/state/appearance.h"

class QScrollBar;

namespace calvoro {

// A thin, quiet scroll bar that shows where a scroll view stands without a track of its own.
void styleScrollBar(QScrollBar* bar, ColorScheme scheme);

}  // namespace calvoro
