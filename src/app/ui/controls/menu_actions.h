#pragma once

#include <functional>

class QAction;
class QObject;

namespace calvoro {

// A menu item whose action opens a modal chooser. Run inside the menu's own mouse release, the
// chooser's loop would leave the toolkit's mouse state pointing at the menu, which is deleted once
// it closes: the next mouse event would go to a deleted widget. The action runs once the menu
// has closed and gone, as long as the context lives.
void connectAfterMenuCloses(QAction* item, QObject* context, std::function<void()> run);

}  // namespace calvoro
