#pragma once

#include <QStandardPaths>
#include <QString>
#include <QUrl>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>

class QFileDialog;
class QWidget;

namespace calvoro {

// The file and colour choosers are the desktop's own wherever Qt's platform theme offers them
// (GTK on GNOME, the portal elsewhere). Where none does, as on a bare X server, Qt's own dialog
// stands in, fitted to the window: its sizes in the window's units and columns wide enough for
// their text.
namespace DesktopDialogs {

// The platform theme to ask Qt for, given the one the user chose (QT_QPA_PLATFORMTHEME) and the
// desktop (XDG_CURRENT_DESKTOP): the portal's on a desktop for which Qt has no theme of its own,
// nothing where the user chose or Qt knows the desktop (GNOME and its kin: GTK; KDE) or where
// there is no desktop at all. Without a running portal the portal's theme shows Qt's dialogs.
std::optional<std::string> preferredPlatformTheme(const char* chosen, const char* desktop);

// Where a chooser opens: in the folder given while it exists, else in the first of the user's
// folders that exists, else at home; never in whatever folder the program happened to start in.
QUrl startFolder(const std::optional<std::filesystem::path>& folder,
                 std::initializer_list<QStandardPaths::StandardLocation> userFolders);

// Whether a file dialog made now would be the desktop's.
bool nativeFileDialogs();
// Whether this dialog is the desktop's (then it has no widgets of its own).
bool isNative(const QFileDialog* dialog);
// Qt's own dialog as the window shows things; a desktop's dialog is left as it is.
void fitFallback(QFileDialog* dialog);
// A note at the foot of the window, where its toasts stand, while a chooser that has no room for
// it is open; it belongs to the window, so hide it and deleteLater when the chooser closes.
QWidget* showNote(QWidget* window, const QString& text);

}  // namespace DesktopDialogs

}  // namespace calvoro
