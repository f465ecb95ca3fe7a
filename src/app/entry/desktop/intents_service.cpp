#include "app/entry/desktop/intents_service.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QThread>
#include <QThreadPool>

#include <climits>
#include <string>

#include "app/entry/desktop/bus_traffic.h"
#include "app/entry/desktop/convert_file_intent.h"
#include "app/entry/desktop/intent_errors.h"
#include "core/text_util.h"
#include "platform/qt/main_thread.h"

namespace calvoro {

namespace {

const char* errorName(ConvertIntentError::Kind kind) {
    switch (kind) {
        case ConvertIntentError::Kind::unsupportedInput: return "app.calvoro.Intents.Error.UnsupportedInput";
        case ConvertIntentError::Kind::unsupportedConversion: return "app.calvoro.Intents.Error.UnsupportedConversion";
    }
    return "org.freedesktop.DBus.Error.Failed";
}

const char* errorName(ConversionIntentError::Kind kind) {
    switch (kind) {
        case ConversionIntentError::Kind::unsupported: return "app.calvoro.Intents.Error.Unsupported";
        case ConversionIntentError::Kind::needsFolderAccess: return "app.calvoro.Intents.Error.NeedsFolderAccess";
        case ConversionIntentError::Kind::collision: return "app.calvoro.Intents.Error.Collision";
        case ConversionIntentError::Kind::engine: return "app.calvoro.Intents.Error.Engine";
        case ConversionIntentError::Kind::noFileURL: return "app.calvoro.Intents.Error.NoFileURL";
        case ConversionIntentError::Kind::fileNotFound: return "org.freedesktop.DBus.Error.FileNotFound";
    }
    return "org.freedesktop.DBus.Error.Failed";
}

const char* limitsExceeded = "org.freedesktop.DBus.Error.LimitsExceeded";
const char* useInPlace = "Use ConvertFileInPlace to convert the file beside its original instead.";

QString inQuotes(const std::string& name) { return "\u201C" + QString::fromStdString(name) + "\u201D"; }

// A size beside its limit, each as the user reads it; in bytes when the rounded figures are equal.
QString sizeAndLimit(std::uint64_t size, std::uint64_t limit) {
    const auto [sizeText, limitText] = formatDistinctByteCounts(static_cast<int64_t>(size), static_cast<int64_t>(limit));
    return QString::fromStdString(sizeText) + "; at most " + QString::fromStdString(limitText);
}

// The reply to a call whose work threw: the error's own text under its own name.
QDBusMessage errorReply(const QDBusMessage& call, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const IntentResultTooLarge& e) {
        return call.createErrorReply(limitsExceeded, "The converted file " + inQuotes(e.name()) + " is too large to return (" +
                                                         sizeAndLimit(e.size(), e.limit()) + " fit in one reply). " +
                                                         useInPlace);
    } catch (const ConvertIntentError& e) {
        return call.createErrorReply(errorName(e.kind()), QString::fromUtf8(e.what()));
    } catch (const ConversionIntentError& e) {
        return call.createErrorReply(errorName(e.kind()), QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
        return call.createErrorReply("org.freedesktop.DBus.Error.Failed", QString::fromUtf8(e.what()));
    } catch (...) {
        return call.createErrorReply("org.freedesktop.DBus.Error.Failed", "The conversion failed.");
    }
}

std::optional<ConvertFormatChoice> formatChoice(const QVariant& value) {
    return ConvertFormatChoice::fromRawValue(value.toString().toStdString());
}

QString everyChoice() {
    QString list;
    for (ConvertFormatChoice choice : ConvertFormatChoice::allCases()) {
        if (!list.isEmpty()) list += ", ";
        list += QString::fromStdString(choice.rawValue());
    }
    return list;
}

QString annotation(const char* name, const QString& value, const char* indent) {
    return QString(indent) + "<annotation name=\"app.calvoro." + name + "\" value=\"" + value.toHtmlEscaped() + "\"/>\n";
}

// An argument with what it is for the user: its title, and for a format the choices.
QString argument(const char* name, const char* type, const char* direction, const char* title = nullptr,
                 bool formatChoices = false) {
    QString xml = QString("      <arg name=\"%1\" type=\"%2\" direction=\"%3\"").arg(name, type, direction);
    if (!title && !formatChoices) return xml + "/>\n";
    xml += ">\n";
    if (title) xml += annotation("Title", title, "        ");
    if (formatChoices) {
        QString choices;
        for (ConvertFormatChoice choice : ConvertFormatChoice::allCases()) {
            if (!choices.isEmpty()) choices += ", ";
            choices += QString::fromStdString(choice.rawValue() + "=" + choice.title());
        }
        xml += annotation("Choices", choices, "        ");
    }
    return xml + "      </arg>\n";
}

// The interface as introspection shows it; titles and summaries as the automation actions give them.
QString introspection() {
    QString xml = QString("  <interface name=\"%1\">\n").arg(IntentsService::interfaceName);
    xml += "    <method name=\"ConvertFile\">\n";
    xml += annotation("Title", ConvertFileIntent::title, "      ");
    xml += annotation("Summary", "Convert {name} to {format}", "      ");
    xml += argument("name", "s", "in", ConvertFileIntent::fileTitle);
    xml += argument("contents", "ay", "in", ConvertFileIntent::fileTitle);
    xml += argument("format", "s", "in", ConvertFileIntent::formatTitle, true);
    xml += argument("name", "s", "out");
    xml += argument("contents", "ay", "out");
    xml += "    </method>\n";
    xml += "    <method name=\"ConvertFileInPlace\">\n";
    xml += annotation("Title", ConvertFileInPlaceIntent::title, "      ");
    xml += annotation("Summary", "Convert {path} to {format} in the same folder", "      ");
    xml += argument("path", "s", "in", ConvertFileInPlaceIntent::fileTitle);
    xml += argument("format", "s", "in", ConvertFileInPlaceIntent::formatTitle, true);
    xml += argument("replaceExisting", "b", "in", ConvertFileInPlaceIntent::replaceExistingTitle);
    xml += argument("path", "s", "out");
    xml += "    </method>\n";
    xml += "  </interface>\n";
    return xml;
}

// A call whose file is at least this large waits for one of the few threads for large files.
constexpr std::uint64_t largeCallBytes = std::uint64_t{1} << 20;
constexpr int largeCallsAtOnce = 2;
constexpr int smallCallsAtOnce = 4;

// The bytes a reply carries in its byte arrays.
std::uint64_t replyBytes(const QDBusMessage& reply) {
    std::uint64_t bytes = 0;
    for (const QVariant& argument : reply.arguments())
        if (argument.typeId() == QMetaType::QByteArray) bytes += static_cast<std::uint64_t>(argument.toByteArray().size());
    return bytes;
}

// The signature each method takes.
QString signatureOf(const QString& member) {
    if (member == "ConvertFile") return "says";
    if (member == "ConvertFileInPlace") return "ssb";
    return {};
}

}  // namespace

class IntentsService::Object : public QDBusVirtualObject {
public:
    Object(std::shared_ptr<std::atomic<int>> running, std::function<void()> callEnded, DBusMessageLimits limits)
        : running_(std::move(running)), callEnded_(std::move(callEnded)), limits_(limits), introspection_(introspection()) {
        largeCalls_.setMaxThreadCount(largeCallsAtOnce);
        smallCalls_.setMaxThreadCount(smallCallsAtOnce);
    }

    QString introspect(const QString&) const override { return introspection_; }

    // Calls then run on the thread that reads the bus, which otherwise waits for this object's
    // thread to take each one.
    void serveOnThreadOf(const QDBusConnection& bus) {
        const QDBusConnectionInterface* interface = bus.interface();
        if (!interface) return;
        release_->moveTo(interface->thread());
        moveToThread(interface->thread());
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage) return false;
        const bool ours = message.interface() == interfaceName;
        if (!ours && !message.interface().isEmpty()) return false;
        const QString member = message.member();
        const QString signature = signatureOf(member);
        // Without an interface, anything else may be the standard interfaces' (Introspect).
        if (signature.isEmpty() && !ours) return false;
        if (signature.isEmpty()) {
            connection.send(message.createErrorReply(
                QDBusError::UnknownMethod, QString("No such method '%1' in interface '%2' at object path '%3' (signature '%4')")
                                               .arg(member, message.interface(), message.path(), message.signature())));
            return true;
        }
        if (message.signature() != signature) {
            connection.send(message.createErrorReply(
                QDBusError::InvalidArgs, QString("%1 takes (%2), not (%3)").arg(member, signature, message.signature())));
            return true;
        }

        const QList<QVariant> args = message.arguments();
        std::function<QVariantList()> work;
        bool knownFormat = true;
        bool large = false;
        QString formatText;
        if (member == "ConvertFile") {
            formatText = args[2].toString();
            auto choice = formatChoice(args[2]);
            knownFormat = choice.has_value();
            const std::string name = args[0].toString().toStdString();
            QByteArray bytes = args[1].toByteArray();
            // What could not come in whole cannot go back: said before any work is done.
            const auto nameBytes = static_cast<std::uint64_t>(name.size());
            const auto size = static_cast<std::uint64_t>(bytes.size());
            if (!limits_.fits(nameBytes, size)) {
                connection.send(message.createErrorReply(
                    limitsExceeded, inQuotes(name) + " is too large for ConvertFile (" +
                                        sizeAndLimit(size, limits_.largestArray(nameBytes)) + " fit in one message). " + useInPlace));
                return true;
            }
            large = size >= largeCallBytes;
            // The reply carries the output's name too, one file name at most.
            const std::uint64_t maximumResultSize = limits_.largestArray(NAME_MAX * 4);
            const ConvertFormatChoice format = choice.value_or(ConvertFormatChoice::jpeg);
            // The copy happens on the worker: the bus's thread only reads the bus.
            work = [name, bytes, format, maximumResultSize]() mutable {
                ConvertFileIntent intent;
                intent.file.name = name;
                intent.file.contents.assign(bytes.begin(), bytes.end());
                bytes = QByteArray();
                intent.format = format;
                intent.maximumResultSize = maximumResultSize;
                IntentFile out = intent.perform();
                intent.file.contents = {};
                QByteArray result(reinterpret_cast<const char*>(out.contents.data()), static_cast<qsizetype>(out.contents.size()));
                out.contents = {};
                return QVariantList{QString::fromStdString(out.name), result};
            };
        } else {
            formatText = args[1].toString();
            auto choice = formatChoice(args[1]);
            knownFormat = choice.has_value();
            ConvertFileInPlaceIntent intent;
            const QByteArray path = args[0].toString().toUtf8();
            if (!path.isEmpty()) intent.file = std::filesystem::path(path.toStdString());
            if (choice) intent.format = *choice;
            intent.replaceExisting = args[2].toBool();
            std::error_code ec;
            large = intent.file && std::filesystem::file_size(*intent.file, ec) >= largeCallBytes && !ec;
            work = [intent = std::move(intent)] { return QVariantList{QString::fromStdString(intent.perform().string())}; };
        }
        if (!knownFormat) {
            connection.send(message.createErrorReply("org.freedesktop.DBus.Error.InvalidArgs",
                                                     "Unknown format \u201C" + formatText + "\u201D. Choose one of: " + everyChoice() + "."));
            return true;
        }

        // The call, and the reply made from it, hold the whole message as received until they
        // are let go of on this thread.
        auto held = std::make_shared<Held>();
        held->call = message;
        held->call.setDelayedReply(true);
        // The arguments are in the work now; the call keeps only what the reply needs.
        held->call.setArguments({});
        running_->fetch_add(1);
        (large ? largeCalls_ : smallCalls_).start([held = std::move(held), connection, work = std::move(work), running = running_,
                                                   ended = callEnded_, release = release_]() mutable {
            try {
                held->reply = held->call.createReply(work());
            } catch (...) {
                held->reply = errorReply(held->call, std::current_exception());
            }
            work = nullptr;
            waitForRoomToSend(connection, replyBytes(held->reply), BusTrafficBudget{}.sendingBytes);
            QDBusConnection(connection).send(held->reply);
            release->release(std::move(held));
            qtmain::postToMain([running, ended] {
                running->fetch_sub(1);
                if (ended) ended();
            });
        });
        return true;
    }

private:
    // A call in the work and its reply: both refer to the message as it was received.
    struct Held {
        QDBusMessage call;
        QDBusMessage reply;
    };

    std::shared_ptr<std::atomic<int>> running_;
    std::function<void()> callEnded_;
    DBusMessageLimits limits_;
    QString introspection_;
    std::shared_ptr<BusThreadRelease> release_ = std::make_shared<BusThreadRelease>();
    // Large files convert a few at a time, so that memory stays bounded however many arrive;
    // small ones have threads of their own and are answered meanwhile.
    QThreadPool largeCalls_;
    QThreadPool smallCalls_;
};

IntentsService::IntentsService(std::function<void()> callEnded, DBusMessageLimits limits)
    : running_(std::make_shared<std::atomic<int>>(0)),
      object_(std::make_unique<Object>(running_, std::move(callEnded), limits)) {}

IntentsService::~IntentsService() {
    if (bus_) bus_->unregisterObject(objectPath);
}

bool IntentsService::registerOn(QDBusConnection bus) {
    if (!bus.isConnected()) return false;
    // Before the name is taken: the bus hands over calls that started this program as soon as
    // it is, ahead of the answer to the request, and a large one must not stop the reading.
    holdReceivedUpTo(bus, BusTrafficBudget{}.receivedBytes);
    // Never waiting for this thread, which may itself be waiting for the bus.
    object_->serveOnThreadOf(bus);
    if (!bus.registerVirtualObject(objectPath, object_.get())) return false;
    if (!bus.registerService(serviceName)) {
        bus.unregisterObject(objectPath);
        return false;
    }
    bus_ = bus;
    return true;
}

void IntentsService::releaseName() {
    if (bus_) bus_->unregisterService(serviceName);
}

void IntentsService::flush() {
    if (!bus_) return;
    // Messages leave in order: the bus answers this one only after it has read everything before.
    bus_->call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId"));
}

}  // namespace calvoro
