#pragma once

#include "app/ui/window/content_view.h"

namespace calvoro {

// The console's views as the content view builds them: the sidebar, the job list and the
// settings popover.
ContentView::ConsoleViews consoleViews();

}  // namespace calvoro
