#include "converters/data/data_converter.h"
#include "converters/data/delimited_parsing.h"

namespace calvoro {

DataConverter::Table DataConverter::parseDelimited(std::string_view text, char delimiter) {
    Table rows;
    datatable::forEachDelimitedRow(text, delimiter, [&](datatable::Cells cells) {
        rows.emplace_back(cells.begin(), cells.end());
        return true;
    });
    return rows;
}

}  // namespace calvoro
