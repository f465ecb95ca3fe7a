#include "app/state/toast.h"

#include <algorithm>

namespace calvoro {

double Toast::displayDuration() const {
    const std::string text = title + " " + detail.value_or("");
    int words = 0;
    bool inWord = false;
    for (char c : text) {
        // Only the blank separates: tabs and line breaks belong to the word.
        if (c == ' ') {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    return std::min(std::max(1.5 + 0.28 * words, 2.4), 8.0);
}

}  // namespace calvoro
