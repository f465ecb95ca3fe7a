#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/state/conversion_view_model.h"
#include "core/conversion_logger.h"
#include "core/settings_store.h"
#include "support/test_support.h"

namespace calvoro::testing {

// Turns the event loop until the condition holds; false after the timeout.
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Empties the settings file, as on a first start.
inline void resetSettings() {
    SettingsStore& store = SettingsStore::shared();
    writeFile(store.file(), std::string("{}"));
    store.reload();
}

inline std::vector<std::string> logMessages() {
    std::vector<std::string> out;
    for (const auto& e : ConversionLogger::shared().entries()) out.push_back(e.message);
    return out;
}

inline bool logged(const std::string& message) {
    for (const auto& m : logMessages())
        if (m == message) return true;
    return false;
}

// A view model on fresh settings, whose folder panels choose the fixture's output folder.
class StateTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetSettings();
        ConversionLogger::shared().clear();
        std::filesystem::create_directories(out());
        model = std::make_unique<ConversionViewModel>();
        model->setFolderPanel([this](const ConversionViewModel::FolderPanelRequest&) { return panelAnswer; });
        panelAnswer = out();
    }
    void TearDown() override {
        if (model) waitUntil([&] { return !model->isProcessing(); });
        model.reset();
    }

    std::filesystem::path out() const { return dir / "out"; }
    std::filesystem::path copyTo(const std::filesystem::path& from, const std::string& name) const {
        std::filesystem::copy_file(from, dir / name, std::filesystem::copy_options::overwrite_existing);
        return dir / name;
    }
    const ConversionJob& job(size_t i) const { return model->jobs().at(i); }
    bool waitForBatch() {
        return waitUntil([&] { return !model->isProcessing(); });
    }
    bool waitForStatus(size_t i, ConversionStatus status) {
        return waitUntil([&, i] { return model->jobs().size() > i && model->jobs()[i].status == status; });
    }
    std::vector<std::string> outputNames() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(out(), ec)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    std::unique_ptr<ConversionViewModel> model;
    std::optional<std::filesystem::path> panelAnswer;
};

}  // namespace calvoro::testing
