#include "app/entry/desktop/file_open_inbox.h"

#include <algorithm>
#include <utility>

namespace calvoro {

namespace {

struct Inbox {
    std::mutex mutex;
    std::vector<std::filesystem::path> pending;
    std::vector<std::pair<int, FileOpenInbox::Observer>> observers;
    int nextToken = 1;
};

Inbox& inbox() {
    static Inbox instance;
    return instance;
}

}  // namespace

void FileOpenInbox::append(const std::vector<std::filesystem::path>& files) {
    if (files.empty()) return;
    std::vector<Observer> toTell;
    {
        std::lock_guard lock(inbox().mutex);
        inbox().pending.insert(inbox().pending.end(), files.begin(), files.end());
        for (const auto& [token, observer] : inbox().observers) toTell.push_back(observer);
    }
    for (const auto& observer : toTell) observer();
}

std::vector<std::filesystem::path> FileOpenInbox::takePending() {
    std::lock_guard lock(inbox().mutex);
    return std::exchange(inbox().pending, {});
}

std::vector<std::filesystem::path> FileOpenInbox::pending() {
    std::lock_guard lock(inbox().mutex);
    return inbox().pending;
}

int FileOpenInbox::addObserver(Observer observer) {
    std::lock_guard lock(inbox().mutex);
    const int token = inbox().nextToken++;
    inbox().observers.emplace_back(token, std::move(observer));
    return token;
}

void FileOpenInbox::removeObserver(int token) {
    std::lock_guard lock(inbox().mutex);
    auto& list = inbox().observers;
    list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& entry) { return entry.first == token; }), list.end());
}

}  // namespace calvoro
