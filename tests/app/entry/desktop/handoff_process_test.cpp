// The program as the desktop starts it: cold hand-offs in background mode, later starts handing
// over to the running one, a stale socket, and activation by the session bus.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "app/entry/desktop/bus_traffic.h"
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

    // A session bus that starts the program for the automation actions, as the installed service
    // file does.
    std::unique_ptr<PrivateBus> activatingBus() {
        fs::create_directories(dir_ / "services");
        std::string exec = "/usr/bin/env";
        for (const auto& variable : environment()) {
            if (variable.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) == 0) continue;
            exec += " " + variable;
        }
        exec += " " + std::string(CALVORO_BINARY) + " --dbus-service";
        writeFile(dir_ / "services" / "app.calvoro.Calvoro.service",
                  "[D-BUS Service]\nName=app.calvoro.Calvoro\nExec=" + exec + "\n");
        return std::make_unique<PrivateBus>(dir_ / "services");
    }

    TempDir dir_;
};

QDBusMessage convertFileCall(const QString& name, const QByteArray& contents, const QString& format) {
    QDBusMessage message = QDBusMessage::createMethodCall("app.calvoro.Calvoro", "/app/calvoro/Calvoro",
                                                          "app.calvoro.Intents", "ConvertFile");
    message.setArguments({name, contents, format});
    return message;
}

// Both calls sent at once on one connection, so that the bus hands both to the program it starts
// for the first, however long a reply then takes to read.
std::pair<QDBusMessage, QDBusMessage> callTogether(QDBusConnection& client, const QDBusMessage& first, const QDBusMessage& second) {
    QDBusPendingCall one = client.asyncCall(first, 300000);
    QDBusPendingCall two = client.asyncCall(second, 120000);
    one.waitForFinished();
    two.waitForFinished();
    return {one.reply(), two.reply()};
}

// A socket that takes connections and never answers: an instance that hangs.
class SilentInstance {
public:
    explicit SilentInstance(const fs::path& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(fd_, 8), 0);
    }
    ~SilentInstance() { ::close(fd_); }
    SilentInstance(const SilentInstance&) = delete;
    SilentInstance& operator=(const SilentInstance&) = delete;

private:
    int fd_;
};

}  // namespace

TEST_F(HandOffProcesses, ColdHandOffConvertsBesideTheSourceWithoutAWindowAndQuits) {
    writeFile(file("My Table & co.csv"), "a,b\n1,2\n");
    auto program = start({convertURL("My Table & co.csv", "json")}, "cold.log");
    EXPECT_EQ(program->wait(), 0) << log("cold.log");
    EXPECT_TRUE(fs::is_regular_file(file("My Table & co.json")));
    EXPECT_NE(log("cold.log").find("[OK] [Files] Files: My Table & co.json"), std::string::npos) << log("cold.log");
}

TEST_F(HandOffProcesses, AColdStartWithALinkItCannotServeSaysWhyAndDoesNotStayAroundUnseen) {
    // A broken escape is still a link: never a file name, never a window.
    const std::vector<std::pair<std::string, std::string>> links{
        {"calvoro://convert?src=/nothing/here.png&fmt=jpeg",
         "[WARN] [Files] Files: ignored a link to a file that does not exist \u2014 /nothing/here.png"},
        {"calvoro://convert?src=%ZZ&fmt=png", "[WARN] [Files] Files: ignored a malformed link \u2014 calvoro://convert?src=%ZZ&fmt=png"},
    };
    auto program = start({links[0].first, links[1].first}, "cold.log");
    EXPECT_EQ(program->wait(std::chrono::seconds(30)), 0);
    for (const auto& [link, why] : links) EXPECT_NE(log("cold.log").find(why), std::string::npos) << link << "\n" << log("cold.log");
    EXPECT_EQ(log("cold.log").find("Added:"), std::string::npos) << log("cold.log");
}

TEST_F(HandOffProcesses, AHandOffAfterTheFirstIsDoneGoesToTheRunningInstance) {
    writeFile(file("a.csv"), "a\n1\n");
    writeFile(file("b.csv"), "b\n2\n");
    auto first = start({convertURL("a.csv", "json")}, "first.log");
    // The first has done its work and waits out its idle time.
    ASSERT_TRUE(waitUntil([&] { return log("first.log").find("Files: a.json") != std::string::npos; })) << log("first.log");
    auto second = start({convertURL("b.csv", "json")}, "second.log");
    EXPECT_EQ(second->wait(), 0);
    EXPECT_EQ(log("second.log").find("Files:"), std::string::npos) << "the second start converted itself";
    EXPECT_EQ(first->wait(), 0);
    EXPECT_NE(log("first.log").find("Files: b.json"), std::string::npos) << log("first.log");
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
    ASSERT_TRUE(waitUntil([&] { return log("window.log").find("Files: t.html") != std::string::npos; }));
    // That a hand-off never starts a window program's idle countdown is held in-process, where
    // the countdown can be seen (DesktopSession tests).
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
    // Seed files of a later start are handed over too; those that are not there are not.
    writeFile(file("three.csv"), "a\n1\n");
    auto seeding = start({"--seed-files", file("three.csv").string(), file("missing.csv").string()}, "seeding.log");
    EXPECT_EQ(seeding->wait(), 0) << log("seeding.log");
    // The start that hands them over says which were not there.
    EXPECT_NE(log("seeding.log").find("Not found: " + file("missing.csv").string() + "\n"), std::string::npos) << log("seeding.log");
    EXPECT_TRUE(waitUntil([&] { return log("window.log").find("Added: three.csv (CSV)") != std::string::npos; }))
        << log("window.log");
    // Open With of a path that is not there makes no job.
    auto missing = start({file("doesnotexist.png").string()}, "missing.log");
    EXPECT_EQ(missing->wait(), 0) << log("missing.log");
    EXPECT_TRUE(waitUntil([&] {
        return log("window.log").find("[WARN] [Files] Unsupported file skipped: doesnotexist.png") != std::string::npos;
    })) << log("window.log");
    EXPECT_EQ(log("window.log").find("Added: doesnotexist.png"), std::string::npos);
    EXPECT_EQ(log("window.log").find("missing.csv"), std::string::npos);
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
    // The window is up for the user, and nothing compressed. That the idle countdown of its
    // background start ends without ending the program is held in-process (DesktopSession tests).
    EXPECT_TRUE(program->running());
    EXPECT_EQ(log("picker.log").find("Files compress"), std::string::npos);
}

TEST_F(HandOffProcesses, FilesThatCannotBeHandedOverAreNamedAndTheStartFails) {
    SilentInstance hung(dir_ / "runtime" / "calvoro.socket");
    writeFile(file("a.csv"), "a\n1\n");
    auto later = start({"--seed-files", file("a.csv").string()}, "later.log");
    EXPECT_EQ(later->wait(std::chrono::seconds(30)), 1) << log("later.log");
    EXPECT_NE(log("later.log").find("Calvoro is running but did not answer; these files were not added:\n  " + file("a.csv").string()),
              std::string::npos)
        << log("later.log");
}

TEST_F(HandOffProcesses, TheSessionBusStartsTheProgramForAnIntentAndItQuitsWhenIdle) {
    auto activating = activatingBus();
    const PrivateBus& bus = *activating;
    auto r = run(onBus(bus, "gdbus call --session --dest app.calvoro.Calvoro --object-path /app/calvoro/Calvoro "
                            "--method app.calvoro.Intents.ConvertFile t.csv \"[byte 0x61, 0x2c, 0x62, 0x0a, 0x31, 0x2c, 0x32, 0x0a]\" html"));
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

TEST_F(HandOffProcesses, AResultTooLargeForOneReplyIsRefusedAndTheProgramServesTheNextCall) {
    auto bus = activatingBus();
    {
        QDBusConnection client = QDBusConnection::connectToBus(QString::fromStdString(bus->address()), "large");
        ASSERT_TRUE(client.isConnected());
        // A table whose HTML is larger than a D-Bus array may be: fourteen times its size.
        std::string rows = "a,b\n";
        rows.reserve(5u << 20);
        while (rows.size() < (5u << 20)) rows += ",\n";
        const auto [refused, next] = callTogether(client, convertFileCall("big.csv", QByteArray::fromStdString(rows), "html"),
                                                  convertFileCall("t.csv", "a\n1\n", "html"));
        EXPECT_EQ(refused.errorName(), "org.freedesktop.DBus.Error.LimitsExceeded") << refused.errorMessage().toStdString();
        EXPECT_TRUE(refused.errorMessage().contains("\u201Cbig.html\u201D is too large to return")) << refused.errorMessage().toStdString();
        EXPECT_TRUE(refused.errorMessage().contains("ConvertFileInPlace"));
        ASSERT_EQ(next.type(), QDBusMessage::ReplyMessage) << next.errorMessage().toStdString();
        EXPECT_TRUE(next.arguments()[1].toByteArray().contains("<table"));
        EXPECT_EQ(next.service(), refused.service()) << "the program ended and was started again";
    }
    QDBusConnection::disconnectFromBus("large");
}

TEST_F(HandOffProcesses, AProgramStartedByALargeFirstCallServesItAndTheNextOnes) {
    auto bus = activatingBus();
    {
        QDBusConnection client = QDBusConnection::connectToBus(QString::fromStdString(bus->address()), "first");
        ASSERT_TRUE(client.isConnected());
        holdReceivedUpTo(client, std::uint64_t{1} << 30);
        // The call that starts the program is as large as a message may carry: the bus hands it
        // over ahead of the answer to the program's request for the name.
        const int size = (64 << 20) - 2048;
        const auto [large, next] = callTogether(client, convertFileCall("in.txt", QByteArray(size, 'a'), "html"),
                                                convertFileCall("t.csv", "a\n1\n", "html"));
        ASSERT_EQ(large.type(), QDBusMessage::ReplyMessage) << large.errorName().toStdString() << ": " << large.errorMessage().toStdString();
        EXPECT_EQ(large.arguments()[0].toString(), "in.html");
        EXPECT_GT(large.arguments()[1].toByteArray().size(), size);
        ASSERT_EQ(next.type(), QDBusMessage::ReplyMessage) << next.errorName().toStdString() << ": " << next.errorMessage().toStdString();
        EXPECT_EQ(next.arguments()[0].toString(), "t.html");
        EXPECT_FALSE(large.service().isEmpty());
        EXPECT_EQ(next.service(), large.service());
    }
    QDBusConnection::disconnectFromBus("first");
}

TEST_F(HandOffProcesses, TheBusStartsAServiceBesideAWindowThatIsNotOnTheBus) {
    // The window holds the single-instance socket but serves another bus (here none): the
    // activated start serves the call itself rather than hand it to the window and leave.
    auto window = start({}, "window.log");
    ASSERT_TRUE(waitUntil([&] { return fs::exists(dir_ / "runtime" / "calvoro.socket"); }));
    auto bus = activatingBus();
    {
        QDBusConnection client = QDBusConnection::connectToBus(QString::fromStdString(bus->address()), "beside");
        const auto reply = client.call(convertFileCall("t.csv", "a\n1\n", "html"), QDBus::Block, 120000);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.arguments()[0].toString(), "t.html");
    }
    QDBusConnection::disconnectFromBus("beside");
    EXPECT_TRUE(window->running());
}
