#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::DocumentConverter {

// Prints the program's own table page (one "<tr>" line per row after "<table>", as the HTML
// table writer makes it) to PDF on US Letter pages: every row and every column reaches the
// PDF. Rows never straddle a page unless taller than one; a table too wide for the page
// wraps its cells, breaks long words and, if it must, is scaled down to the page's width.
// Long tables are laid out and printed about cellsPerLayout cells at a time and the pages
// joined, so that memory stays bounded whatever the length. Throws ConversionError.
inline constexpr size_t defaultCellsPerLayout = 8000;
void tablePageToPDF(const std::string& html, const std::filesystem::path& output,
                    size_t cellsPerLayout = defaultCellsPerLayout);

namespace detail {
// The page cut into the text before the first row, the row lines, and the rest; rows empty
// when the page has no table.
struct TablePageParts {
    std::string_view head;
    std::vector<std::string_view> rows;
    std::string_view tail;
};
TablePageParts splitTablePage(std::string_view html);
// The row with each cell holding a word too long for a narrow column marked as breakable.
std::string markLongWords(std::string_view row);
}  // namespace detail

}  // namespace calvoro::DocumentConverter
