// The program as the desktop starts it: cold hand-offs in background mode, later starts handing
// over to the running one, a stale socket, and activation by the session bus.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "core/handoff_url.h"
#include "desktop_test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace fs = std::filesystem;

namespace {

// A user of its own: runtime folder, settings and a session bus that is not there.
class HandOffProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(dir_ / "runtime");
        fs::permissions(dir_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directory(dir_ / "config");
        fs::create_directory(dir_ / "files");
    }

    std::vector<std::string> environment(const std::string& bus = "") const {
        return {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + (dir_ / "runtime").string(),
                "CALVORO_CONFIG_DIR=" + (dir_ / "config").string(),
                "DBUS_SESSION_BUS_ADDRESS=" + (bus.empty() ? "unix:path=" + (dir_ / "no-bus").string() : bus)};
    }

    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments, const std::string& log) {
        std::vector<std::string> argv{CALVORO_BINARY};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return std::make_unique<ChildProcess>(argv, environment(), dir_ / log);
    }

    fs::path file(const std::string& name) const { return dir_ / "files" / name; }
    std::string convertURL(const std::string& name, const std::string& format) const {
        return *HandoffURL::convert(file(name).string(), format);
    }
    std::string log(const std::string& name) const { return fs::exists(dir_ / name) ? readText(dir_ / name) : ""; }

    TempDir dir_;
};

}  // namespace

TEST_F(HandOffProcesses, ColdHandOffConvertsBesideTheSourceWithoutAWindowAndQuits) {
    writeFile(file("My Table & co.csv"), "a,b\n1,2\n");
    auto program = start({convertURL("My Table & co.csv", "json")}, "cold.log");
    EXPECT_EQ(program->wait(), 0) << log("cold.log");
    EXPECT_TRUE(fs::is_regular_file(file("My Table & co.json")));
    EXPECT_NE(log("cold.log").find("[OK] [Finder] Finder: My Table & co.json"), std::string::npos) << log("cold.log");
}

TEST_F(HandOffProcesses, AColdStartWithALinkItCannotServeDoesNotStayAroundUnseen) {
    auto program = start({"calvoro://convert?src=/nothing/here.png&fmt=jpeg"}, "cold.log");
    EXPECT_EQ(program->wait(), 0);
    EXPECT_EQ(log("cold.log").find("Finder"), std::string::npos);
}

TEST_F(HandOffProcesses, AHandOffOneSecondLaterGoesToTheRunningInstance) {
    writeFile(file("a.csv"), "a\n1\n");
    writeFile(file("b.csv"), "b\n2\n");
    auto first = start({convertURL("a.csv", "json")}, "first.log");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(file("a.json")); }));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    auto second = start({convertURL("b.csv", "json")}, "second.log");
    EXPECT_EQ(second->wait(), 0);
    EXPECT_EQ(log("second.log").find("Finder:"), std::string::npos) << "the second start converted itself";
    EXPECT_EQ(first->wait(), 0);
    EXPECT_NE(log("first.log").find("Finder: b.json"), std::string::npos) << log("first.log");
    EXPECT_TRUE(fs::is_regular_file(file("b.json")));
}

TEST_F(HandOffProcesses, AWindowInstanceServesHandOffsAndKeepsRunningAndItsStaleSocketIsCleared) {
    writeFile(file("t.csv"), "a,b\n1,2\n");
    auto window = start({}, "window.log");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(dir_ / "runtime" / "calvoro.socket"); }));
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "runtime" / "calvoro.socket").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);

    auto handOff = start({convertURL("t.csv", "html")}, "handoff.log");
    EXPECT_EQ(handOff->wait(), 0);
    ASSERT_TRUE(waitUntil([&] { return log("window.log").find("Finder: t.html") != std::string::npos; }));
    // Longer than the idle wait: a window program never quits because of a hand-off.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_TRUE(window->running());

    window->kill(SIGKILL);
    window->wait();
    ASSERT_TRUE(fs::exists(dir_ / "runtime" / "calvoro.socket"));
    auto next = start({convertURL("t.csv", "tsv")}, "next.log");
    EXPECT_EQ(next->wait(), 0) << log("next.log");
    EXPECT_TRUE(fs::is_regular_file(file("t.tsv")));
}

TEST_F(HandOffProcesses, OpenWithFilesReachTheWindowsJobListAlsoFromALaterStart) {
    writeFile(file("one.csv"), "a\n1\n");
    writeFile(file("two words.csv"), "a\n1\n");
    auto window = start({file("one.csv").string()}, "window.log");
    ASSERT_TRUE(waitUntil([&] { return log("window.log").find("Added: one.csv (CSV)") != std::string::npos; }))
        << log("window.log");
    auto later = start({"file://" + (dir_ / "files").string() + "/two%20words.csv"}, "later.log");
    EXPECT_EQ(later->wait(), 0) << log("later.log");
    EXPECT_TRUE(waitUntil([&] { return log("window.log").find("Added: two words.csv (CSV)") != std::string::npos; }))
        << log("window.log");
    // The picker hands its file to the window's list without compressing anything.
    auto picker = start({*HandoffURL::compress(file("one.csv").string(), std::nullopt, true)}, "picker.log");
    EXPECT_EQ(picker->wait(), 0);
    EXPECT_TRUE(waitUntil([&] { return log("window.log").find("Skipping duplicate: one.csv") != std::string::npos; }))
        << log("window.log");
    EXPECT_TRUE(window->running());
}

TEST_F(HandOffProcesses, AColdCompressPickerBringsTheWindowAndStays) {
    makePNG(file("photo.png"));
    auto program = start({*HandoffURL::compress(file("photo.png").string(), "tiny", true)}, "picker.log");
    ASSERT_TRUE(waitUntil([&] { return log("picker.log").find("Added: photo.png (PNG)") != std::string::npos; }))
        << log("picker.log");
    // The window is up for the user: no idle quit while it is shown, and nothing compressed.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_TRUE(program->running());
    EXPECT_EQ(log("picker.log").find("Finder compress"), std::string::npos);
}

TEST_F(HandOffProcesses, TheSessionBusStartsTheProgramForAnIntentAndItQuitsWhenIdle) {
    fs::create_directory(dir_ / "services");
    std::string exec = "/usr/bin/env";
    for (const auto& variable : environment()) {
        if (variable.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0) continue;
        exec += " " + variable;
    }
    exec += " " + std::string(CALVORO_BINARY) + " --dbus-service";
    writeFile(dir_ / "services" / "app.calvoro.Calvoro.service",
              "[D-BUS Service]\nName=app.calvoro.Calvoro\nExec=" + exec + "\n");
    PrivateBus bus(dir_ / "services");
    auto r = run(onBus(bus, "gdbus call --session --dest app.calvoro.Calvoro --object-path /app/calvoro/Calvoro "
                            "--method app.calvoro.Intents.ConvertFile t.csv \"b'a,b\\n'\" html"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("'t.html'"), std::string::npos) << r.output;
    // The activated program leaves the bus once it has nothing more to do.
    auto owned = [&] {
        return run(onBus(bus, "gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                              "--method org.freedesktop.DBus.NameHasOwner app.calvoro.Calvoro")).output;
    };
    EXPECT_NE(owned().find("true"), std::string::npos);
    EXPECT_TRUE(waitUntil([&] { return owned().find("false") != std::string::npos; }));
}
