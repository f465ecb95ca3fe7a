#include "app/ui/console/console_view.h"

#include "app/ui/console/console_main.h"
#include "app/ui/console/console_settings_popover.h"
#include "app/ui/console/console_sidebar.h"

namespace calvoro {

ContentView::ConsoleViews consoleViews() {
    ContentView::ConsoleViews views;
    views.main = [](ConversionViewModel& viewModel, QWidget* parent) -> QWidget* { return new ConsoleMain(viewModel, parent); };
    views.sidebar = [](ConversionViewModel& viewModel, QWidget* parent) -> QWidget* {
        return new ConsoleSidebar(viewModel, parent);
    };
    views.settingsPopover = [](ConversionViewModel& viewModel, std::function<void()> onShowConversions,
                               QWidget* parent) -> QWidget* {
        auto* popover = new ConsoleSettingsPopover(viewModel, std::move(onShowConversions), parent);
        popover->resize(popover->sizeHint());
        return popover;
    };
    return views;
}

}  // namespace calvoro
