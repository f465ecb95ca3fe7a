// The automation actions over a real session bus of their own, called by gdbus and by a second
// connection, with the service in this process.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/entry/desktop/bus_traffic.h"
#include "app/entry/desktop/convert_format_choice.h"
#include "app/entry/desktop/dbus_message_limits.h"
#include "app/entry/desktop/intents_service.h"
#include "core/conversion_logger.h"
#include "core/text_util.h"
#include "core/folder_access.h"
#include "desktop_test_support.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"
#include "platform/qt/main_thread.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace fs = std::filesystem;

namespace {

class Intents : public ::testing::Test {
protected:
    void SetUp() override { start({}); }

    // Limits smaller than the bus's, so that a few bytes stand for a file too large.
    void start(DBusMessageLimits limits, BusTrafficBudget traffic = {}) {
        isolateSettings();
        imaging::registerCapabilities();
        media::registerCapabilities();
        bus_ = std::make_unique<PrivateBus>();
        // Working folders land here, so that what is left behind can be seen.
        fs::create_directory(dir_ / "tmp");
        previousTmp_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
        qtmain::runOnMain([&] {
            service_ = std::make_unique<IntentsService>(std::function<void()>{}, limits, traffic);
            ASSERT_TRUE(service_->registerOn(QDBusConnection::connectToBus(QString::fromStdString(bus_->address()), "service")));
        });
        client_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(QString::fromStdString(bus_->address()), "client"));
        ASSERT_TRUE(client_->isConnected());
        // A client holds whole replies as large as a message may carry.
        holdReceivedUpTo(*client_, std::uint64_t{1} << 30);
    }

    void TearDown() override { stop(); }

    void stop() {
        if (!bus_) return;
        client_.reset();
        QDBusConnection::disconnectFromBus("client");
        qtmain::runOnMain([&] {
            service_.reset();
            QDBusConnection::disconnectFromBus("service");
        });
        bus_.reset();
        if (previousTmp_.empty()) unsetenv("TMPDIR"); else setenv("TMPDIR", previousTmp_.c_str(), 1);
    }

    QDBusMessage call(const QString& method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(IntentsService::serviceName, IntentsService::objectPath,
                                                              IntentsService::interfaceName, method);
        message.setArguments(arguments);
        return client_->call(message, QDBus::Block, 120000);
    }

    QDBusMessage convertFile(const QString& name, const QByteArray& contents, const QString& format) {
        return call("ConvertFile", {name, contents, format});
    }

    QDBusPendingCall convertFileAsync(const QString& name, const QByteArray& contents, const QString& format) {
        QDBusMessage message = QDBusMessage::createMethodCall(IntentsService::serviceName, IntentsService::objectPath,
                                                              IntentsService::interfaceName, "ConvertFile");
        message.setArguments({name, contents, format});
        return client_->asyncCall(message, 120000);
    }

    QDBusMessage convertInPlace(const fs::path& path, const QString& format, bool replace) {
        return call("ConvertFileInPlace", {QString::fromStdString(path.string()), format, replace});
    }

    bool workingFoldersLeft() const { return !fs::is_empty(dir_ / "tmp"); }

    TempDir dir_;
    std::string previousTmp_;
    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<IntentsService> service_;
    std::unique_ptr<QDBusConnection> client_;
};

class SmallIntentLimits : public Intents {
protected:
    void SetUp() override {
        DBusMessageLimits limits;
        limits.maxArrayBytes = 1000;
        limits.maxMessageBytes = 4096 + 1100 + 1000;
        start(limits);
    }
};

// A connection that holds little of what it has received, so that a few megabytes of calls pass
// what it holds, as the largest calls pass the bus's own limit.
class SmallBusTraffic : public Intents {
protected:
    void SetUp() override {
        BusTrafficBudget traffic;
        traffic.receivedBytes = std::uint64_t{1} << 20;
        start({}, traffic);
    }
};

void expectError(const QDBusMessage& reply, const QString& name, const std::string& message) {
    EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(reply.errorName(), name);
    EXPECT_EQ(reply.errorMessage().toStdString(), message);
}

}  // namespace

TEST_F(Intents, ConvertFileHandsBackTheConvertedBytesAndLeavesNothingBehind) {
    auto reply = convertFile("t.csv", "a,b\n1,2\n", "html");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    ASSERT_EQ(reply.arguments().size(), 2);
    EXPECT_EQ(reply.arguments()[0].toString(), "t.html");
    EXPECT_TRUE(reply.arguments()[1].toByteArray().contains("<table"));
    EXPECT_FALSE(workingFoldersLeft());

    // A name never reaches outside the working folder.
    reply = convertFile("../../escape.csv", "a\n1\n", "html");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments()[0].toString(), "escape.html");
    EXPECT_FALSE(fs::exists(dir_.path().parent_path() / "escape.csv"));
    EXPECT_FALSE(workingFoldersLeft());
}

TEST_F(Intents, ConvertFileErrorsCarryTheirMessages) {
    expectError(convertFile("notes.xyz", "x", "png"), "app.calvoro.Intents.Error.UnsupportedInput",
                "Calvoro can't read \u201Cnotes.xyz\u201D \u2014 it isn't a supported file type.");
    expectError(convertFile("photo.jpeg", "not decoded yet", "mp4"), "app.calvoro.Intents.Error.UnsupportedConversion",
                "JPEG can't be converted to MP4. Check All Conversions in the app for what's possible.");
    expectError(convertFile("..", "x", "png"), "app.calvoro.Intents.Error.UnsupportedInput",
                "Calvoro can't read \u201C..\u201D \u2014 it isn't a supported file type.");
    // The engine's own failure comes through unchanged.
    auto reply = convertFile("broken.png", "not a picture", "jpeg");
    EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.Failed");
    EXPECT_FALSE(reply.errorMessage().isEmpty());
    // Only the fifteen choices are formats.
    reply = convertFile("t.csv", "a\n", "webp");
    EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_FALSE(workingFoldersLeft());
}

TEST_F(Intents, ConvertFileInPlaceWritesBesideTheSourceWithItsOutcomes) {
    const fs::path folder = dir_ / "docs";
    fs::create_directory(folder);
    writeFile(folder / "t.csv", "a,b\n1,2\n");

    expectError(convertInPlace(folder / "t.csv", "html", false), "app.calvoro.Intents.Error.NeedsFolderAccess",
                "Calvoro needs permission to save into \u201C" "docs" "\u201D. Open Calvoro \u2192 Settings \u2192 Files \u2192 Allow a folder, then try again.");
    ASSERT_TRUE(FolderAccess::shared().authorize(folder));

    auto reply = convertInPlace(folder / "t.csv", "html", false);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments()[0].toString().toStdString(), (folder / "t.html").string());
    EXPECT_TRUE(readText(folder / "t.html").find("<table") != std::string::npos);

    writeFile(folder / "t.html", "older");
    expectError(convertInPlace(folder / "t.csv", "html", false), "app.calvoro.Intents.Error.Collision",
                "\u201Ct.html\u201D already exists. Turn on Replace existing file to overwrite it.");
    EXPECT_EQ(readText(folder / "t.html"), "older");
    reply = convertInPlace(folder / "t.csv", "html", true);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_NE(readText(folder / "t.html"), "older");
    EXPECT_EQ(readText(folder / "t.csv"), "a,b\n1,2\n");

    for (const fs::path& none : {fs::path(), fs::path("t.csv")})
        expectError(convertInPlace(none, "html", false), "app.calvoro.Intents.Error.NoFileURL",
                    "That item has no file on disk to convert.");
    writeFile(folder / "notes.xyz", "x");
    expectError(convertInPlace(folder / "notes.xyz", "html", false), "app.calvoro.Intents.Error.Engine",
                "Calvoro doesn't recognise notes.xyz.");
    expectError(convertInPlace(folder / "t.csv", "mp4", false), "app.calvoro.Intents.Error.Engine",
                "Can't convert CSV to MP4.");
    // Neither waits: a FIFO for a writer, a device for its end.
    ASSERT_EQ(::mkfifo((folder / "pipe.csv").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folder / "zero.csv");
    for (const char* name : {"pipe.csv", "zero.csv"})
        expectError(convertInPlace(folder / name, "html", false), "app.calvoro.Intents.Error.Engine",
                    std::string(name) + " is not a regular file.");
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
}

TEST_F(Intents, DeepJSONIsAnErrorOnBothMethodsAndTheServiceGoesOn) {
    QByteArray deep(1'000'000, '[');
    deep += QByteArray(1'000'000, ']');
    const std::string message = "File appears corrupt: The JSON document nests too deeply";
    expectError(convertFile("d.json", deep, "html"), "org.freedesktop.DBus.Error.Failed", message);
    EXPECT_FALSE(workingFoldersLeft());

    const fs::path folder = dir_ / "docs";
    fs::create_directory(folder);
    writeFile(folder / "d.json", deep.toStdString());
    ASSERT_TRUE(FolderAccess::shared().authorize(folder));
    expectError(convertInPlace(folder / "d.json", "html", false), "app.calvoro.Intents.Error.Engine", message);
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(folder), {}), std::vector<fs::path>{folder / "d.json"});

    auto reply = convertFile("t.csv", "a\n1\n", "html");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_FALSE(workingFoldersLeft());
}

TEST_F(Intents, GdbusCallsBothMethodsByTheirIntrospectedSignatures) {
    writeFile(dir_ / "t.csv", "a,b\n1,2\n");
    ASSERT_TRUE(FolderAccess::shared().authorize(dir_.path()));
    const std::string target = " --dest app.calvoro.Calvoro --object-path /app/calvoro/Calvoro --method ";
    auto r = run(onBus(*bus_, "gdbus call --session" + target + "app.calvoro.Intents.ConvertFileInPlace " +
                                  shellQuote((dir_ / "t.csv").string()) + " tsv false 2>&1"));
    // tsv is no choice: gdbus shows the error's message.
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("Unknown format"), std::string::npos) << r.output;
    r = run(onBus(*bus_, "gdbus call --session" + target + "app.calvoro.Intents.ConvertFileInPlace " +
                             shellQuote((dir_ / "t.csv").string()) + " html false"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find((dir_ / "t.html").string()), std::string::npos) << r.output;
    r = run(onBus(*bus_, "gdbus call --session" + target + "app.calvoro.Intents.ConvertFile t.csv \"[byte 0x61, 0x2c, 0x62, 0x0a, 0x31, 0x2c, 0x32, 0x0a]\" html"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("'t.html'"), std::string::npos) << r.output;
}

TEST_F(SmallIntentLimits, FilesTooLargeForOneMessageAreRefusedAndTheNextCallIsServed) {
    // Coming in: refused before any work, so nothing is written.
    auto reply = convertFile("big.csv", QByteArray(1500, 'a'), "html");
    expectError(reply, "org.freedesktop.DBus.Error.LimitsExceeded",
                "\u201C" "big.csv" "\u201D is too large for ConvertFile (2 KB; at most 1 KB fit in one message). "
                "Use ConvertFileInPlace to convert the file beside its original instead.");
    EXPECT_FALSE(workingFoldersLeft());

    // Going out: an HTML table is larger than its CSV, and is never put into a reply.
    std::string csv;
    for (int row = 0; row < 60; ++row) csv += "a,b\n";
    reply = convertFile("t.csv", QByteArray::fromStdString(csv), "html");
    EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.LimitsExceeded");
    EXPECT_TRUE(reply.errorMessage().startsWith("The converted file \u201Ct.html\u201D is too large to return (")) << reply.errorMessage().toStdString();
    EXPECT_TRUE(reply.errorMessage().endsWith(" fit in one reply). Use ConvertFileInPlace to convert the file beside its original instead."));
    EXPECT_FALSE(workingFoldersLeft());

    reply = convertFile("t.csv", "a\n1\n", "html");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_TRUE(reply.arguments()[1].toByteArray().contains("<table"));
}

// The bus's connection stops reading while the calls it holds pass its limit, and must start
// again once they are answered.
TEST_F(SmallBusTraffic, AfterACallLargerThanTheConnectionHoldsTheNextCallIsAnswered) {
    const int size = 3 << 19;
    auto reply = convertFile("in.txt", QByteArray(size, 'a'), "html");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorName().toStdString() << ": " << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments()[0].toString(), "in.html");
    EXPECT_GT(reply.arguments()[1].toByteArray().size(), size);
    reply = convertFile("t.csv", "a\n1\n", "html");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorName().toStdString();
    EXPECT_TRUE(reply.arguments()[1].toByteArray().contains("<table"));
}

TEST_F(SmallBusTraffic, LargeCallsSideBySideLeaveNoCallUnanswered) {
    // Sent in this order on one connection, so the small calls come in behind the large ones,
    // more than the connection holds at once.
    std::vector<QDBusPendingCall> large;
    for (char c : {'a', 'b', 'c'}) large.push_back(convertFileAsync(QString("%1.txt").arg(c), QByteArray(2 << 20, c), "html"));
    std::vector<QDBusPendingCall> small;
    for (int i = 0; i < 4; ++i) small.push_back(convertFileAsync(QString("t%1.csv").arg(i), "a,b\n1,2\n", "html"));
    for (auto& pending : small) {
        pending.waitForFinished();
        const QDBusMessage reply = pending.reply();
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorName().toStdString();
        EXPECT_TRUE(reply.arguments()[1].toByteArray().contains("<table"));
    }
    for (auto& pending : large) {
        pending.waitForFinished();
        const QDBusMessage reply = pending.reply();
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorName().toStdString();
        EXPECT_GT(reply.arguments()[1].toByteArray().size(), 2 << 20);
    }
    EXPECT_FALSE(workingFoldersLeft());
}

// Documents are read on the main thread: these calls cannot end while it takes the service
// down, and must be let finish there; the calls that come after find no object.
TEST_F(Intents, CallsInFlightWhileTheServiceGoesAreAnsweredOrRefused) {
    std::vector<QDBusPendingCall> pending;
    qtmain::runOnMain([&] {
        for (int i = 0; i < 24; ++i) pending.push_back(convertFileAsync(QString("p%1.html").arg(i), "<p>x</p>", "txt"));
        ASSERT_TRUE(waitUntil([&] { return service_->runningCalls() > 0; }));
        service_.reset();
    });
    int answered = 0;
    for (size_t i = 0; i < pending.size(); ++i) {
        pending[i].waitForFinished();
        const QDBusMessage reply = pending[i].reply();
        if (reply.type() == QDBusMessage::ReplyMessage) {
            ++answered;
            EXPECT_EQ(reply.arguments()[0].toString(), QString("p%1.txt").arg(i));
        } else {
            EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.UnknownObject") << reply.errorMessage().toStdString();
        }
    }
    EXPECT_GT(answered, 0);
    EXPECT_FALSE(workingFoldersLeft());
}

// A bus that takes nothing more from the service, as when a caller stops reading and the bus
// holds what it was sent: the reply waiting behind is dropped and said so, and the service goes on.
TEST_F(Intents, AReplyThatCannotGoOutIsDroppedAndTheServiceGoesOn) {
    stop();
    BusTrafficBudget traffic;
    traffic.sendingBytes = std::uint64_t{1} << 20;
    traffic.sendingPatience = std::chrono::milliseconds(200);
    start({}, traffic);
    QDBusPendingCall pending = QDBusPendingCall::fromError(QDBusError());
    qtmain::runOnMain([&] {
        // A document: its reply is made once this turn of the main thread is over.
        pending = convertFileAsync("p.html", "<p>x</p>", "txt");
        ASSERT_TRUE(waitUntil([&] { return service_->runningCalls() == 1; }));
        bus_->pause();
        QDBusConnection service("service");
        QDBusMessage jam = QDBusMessage::createSignal("/", "app.calvoro.Test", "Jam");
        jam << QByteArray(4 << 20, 'j');
        service.send(jam);
        // Qt hands it to libdbus on the bus's thread, before this.
        QMetaObject::invokeMethod(service.interface(), [] {}, Qt::BlockingQueuedConnection);
    });
    EXPECT_TRUE(waitUntil([&] { return service_->runningCalls() == 0; }));
    const auto entries = ConversionLogger::shared().entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().category, "D-Bus");
    EXPECT_EQ(entries.back().message, "ConvertFile: reply dropped \u2014 the bus stopped taking this program's messages, as when a caller stops reading");
    bus_->resume();
    // The jam must be through before the next reply, or that reply waits behind it too.
    service_->flush();
    auto reply = convertFile("t.csv", "a\n1\n", "html");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_TRUE(reply.arguments()[1].toByteArray().contains("<table"));
}

TEST_F(Intents, SizesThatRoundAlikeAreGivenInBytes) {
    std::string csv;
    for (int row = 0; row < 60; ++row) csv += "a,b\n";
    // The result's size, then limits that leave it three bytes too large.
    auto reply = convertFile("t.csv", QByteArray::fromStdString(csv), "html");
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const auto size = static_cast<std::uint64_t>(reply.arguments()[1].toByteArray().size());
    stop();
    DBusMessageLimits limits;
    limits.maxArrayBytes = size - 3;
    start(limits);
    reply = convertFile("t.csv", QByteArray::fromStdString(csv), "html");
    EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.LimitsExceeded");
    const auto [sizeText, limitText] = formatDistinctByteCounts(static_cast<int64_t>(size), static_cast<int64_t>(size - 3));
    EXPECT_NE(sizeText.find(" bytes"), std::string::npos);
    EXPECT_TRUE(reply.errorMessage().contains(QString::fromStdString("(" + sizeText + "; at most " + limitText + " fit in one reply)")))
        << reply.errorMessage().toStdString();
}

TEST_F(Intents, UnknownMethodsAndWrongArgumentsAreNamedAsSuch) {
    auto reply = call("Frobnicate", {});
    EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.UnknownMethod");
    EXPECT_EQ(reply.errorMessage(), "No such method 'Frobnicate' in interface 'app.calvoro.Intents' at object path "
                                    "'/app/calvoro/Calvoro' (signature '')");
    reply = call("ConvertFileInPlace", {QString("/a.png"), QString("jpeg")});
    EXPECT_EQ(reply.errorName(), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(reply.errorMessage(), "ConvertFileInPlace takes (ssb), not (ss)");
    // The standard interfaces still answer.
    auto introspect = QDBusMessage::createMethodCall(IntentsService::serviceName, IntentsService::objectPath,
                                                     "org.freedesktop.DBus.Introspectable", "Introspect");
    reply = client_->call(introspect);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_TRUE(reply.arguments()[0].toString().contains("ConvertFileInPlace"));
}

TEST_F(Intents, AMissingFileIsSaidToBeMissing) {
    expectError(convertInPlace("/nonexistent/x.png", "jpeg", false), "org.freedesktop.DBus.Error.FileNotFound",
                "\u201Cx.png\u201D doesn't exist. Check the path and try again.");
}

TEST_F(Intents, IntrospectionShowsWhatEachArgumentIs) {
    auto r = run(onBus(*bus_, "gdbus introspect --session --dest app.calvoro.Calvoro --object-path /app/calvoro/Calvoro"));
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* shown : {"@app.calvoro.Title(\"Convert File\")", "@app.calvoro.Summary(\"Convert {name} to {format}\")",
                              "@app.calvoro.Title(\"Convert File in Place\")",
                              "@app.calvoro.Summary(\"Convert {path} to {format} in the same folder\")",
                              "@app.calvoro.Title(\"File\")", "@app.calvoro.Title(\"To Format\")",
                              "@app.calvoro.Title(\"Convert to\")", "@app.calvoro.Title(\"Replace existing file\")",
                              "m4a=M4A (audio)"})
        EXPECT_NE(r.output.find(shown), std::string::npos) << shown << "\n" << r.output;
}

TEST(ConvertFormatChoice, PDFFollowsTheSourceAndRawValuesAreExact) {
    EXPECT_EQ(ConvertFormatChoice::resolve(ConvertFormatChoice::pdf, SupportedFormat::png), SupportedFormat::pdf_image);
    EXPECT_EQ(ConvertFormatChoice::resolve(ConvertFormatChoice::pdf, SupportedFormat::markdown), SupportedFormat::pdf);
    EXPECT_EQ(ConvertFormatChoice::resolve(ConvertFormatChoice::pdf, SupportedFormat::csv), SupportedFormat::pdf);
    EXPECT_EQ(ConvertFormatChoice::resolve(ConvertFormatChoice::m4a, SupportedFormat::mp4), SupportedFormat::m4a);
    EXPECT_EQ(ConvertFormatChoice::fromRawValue("m4a")->title(), "M4A (audio)");
    EXPECT_FALSE(ConvertFormatChoice::fromRawValue("PNG"));
    EXPECT_FALSE(ConvertFormatChoice::fromRawValue("webp"));
}
