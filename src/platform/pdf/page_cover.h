#pragma once

#include <filesystem>

namespace calvoro::pdf {

// Whether the page's own content, read without rendering it, shows that the page comes out
// opaque wherever it is drawn: a fill of one rectangle over the whole page box, in a plain
// colour at full opacity, that nothing clips, masks or hides and no knockout group can undo
// (painting over an opaque pixel keeps it opaque). False also means "cannot tell": the file or
// page cannot be read, or the content does something this reading does not follow.
bool pageIsOpaquelyCovered(const std::filesystem::path& path, int pageIndex);

}  // namespace calvoro::pdf
