#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

namespace calvoro {

// Files that Open With hands to the program, waiting for the window to take them.
class FileOpenInbox {
public:
    // Appends the files in order, then tells every observer once ("CalvoroFileOpenInbox").
    static void append(const std::vector<std::filesystem::path>& files);
    // Everything pending, in order; the inbox is empty afterwards.
    static std::vector<std::filesystem::path> takePending();
    static std::vector<std::filesystem::path> pending();

    // Observers are called on the appending thread (the main thread).
    using Observer = std::function<void()>;
    static int addObserver(Observer observer);
    static void removeObserver(int token);

    FileOpenInbox() = delete;
};

}  // namespace calvoro
