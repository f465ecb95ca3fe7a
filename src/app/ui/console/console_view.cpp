#include "app/ui/console/console_view.h"

#include "app/ui/console/console_main.h"
#include "app/ui/console/console_sidebar.h"

namespace calvoro {

ContentView::ConsoleViews consoleViews() {
    ContentView::ConsoleViews views;
    views.main = [](ConversionViewModel& viewModel, QWidget* parent) -> QWidget* { return new ConsoleMain(viewModel, parent); };
    views.sidebar = [](ConversionViewModel& viewModel, QWidget* parent) -> QWidget* {
        return new ConsoleSidebar(viewModel, parent);
    };
    return views;
}

}  // namespace calvoro
