#include "app/state/appearance.h"

namespace calvoro {

std::string rawValue(AppearanceMode mode) { return mode == AppearanceMode::light ? "Light" : "Dark"; }

std::optional<AppearanceMode> appearanceModeFromRawValue(std::string_view raw) {
    if (raw == "Dark") return AppearanceMode::dark;
    if (raw == "Light") return AppearanceMode::light;
    return std::nullopt;
}

}  // namespace calvoro
