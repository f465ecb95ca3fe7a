#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/state/accent_choice.h"
#include "app/state/appearance.h"

namespace calvoro {

class ConversionViewModel;

// Draws the window's content in its seven preset states into PNG files, without showing it.
// ScreenshotMode::active must be set before any of these run.
namespace ScreenshotRenderer {

using Path = std::filesystem::path;
// Builds the window's content view bound to a view model.
using ContentViewFactory = std::function<QWidget*(ConversionViewModel&)>;

// 1280 by 800 points at scale 2.
constexpr int pointWidth = 1280, pointHeight = 800;
constexpr double scale = 2.0;

// The argument after "--render-screenshots" when there is one (whatever it is), else
// "Calvoro-Screenshots" in the user's desktop folder, else in ~/Desktop.
Path outputFolder(const std::vector<std::string>& arguments);

// The seven seed files under "/tmp/kx-files/", in queue order.
const std::vector<Path>& seedFiles();

// A fresh view model in the given look, its queue filled from the seed files that exist when
// asked: the first job completed, the fourth converting at 0.62.
std::unique_ptr<ConversionViewModel> seededViewModel(bool queue, AppearanceMode mode, AccentChoice accent);

// Renders the content view of the model and writes it as folder/fileName; prints one line
// ("✓ name  W×H", or "✗ name: render failed" / "✗ name: write failed").
void render(ConversionViewModel& viewModel, const ContentViewFactory& makeView, const Path& folder,
            const std::string& fileName);

// Creates the folder (errors ignored) and renders the seven states in order.
void renderAll(const Path& folder, const ContentViewFactory& makeView);

}  // namespace ScreenshotRenderer
}  // namespace calvoro
