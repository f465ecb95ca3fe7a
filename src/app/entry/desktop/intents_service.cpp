#include "app/entry/desktop/intents_service.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QThread>
#include <QThreadPool>

#include <climits>
#include <future>
#include <string>

#include "app/entry/desktop/convert_file_intent.h"
#include "app/entry/desktop/intent_errors.h"
#include "core/conversion_logger.h"
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

// The reply to a call: its work's results, or the error the work threw.
QDBusMessage replyOf(const QDBusMessage& call, const std::function<QVariantList()>& work) {
    try {
        return call.createReply(work());
    } catch (...) {
        return errorReply(call, std::current_exception());
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

// A reply that could not go out: said where the user looks, since the caller never hears of it.
void logDropped(const QDBusMessage& call) {
    ConversionLogger::shared().error(call.member().toStdString() +
                                         ": reply dropped \u2014 the bus stopped taking this program's messages, as when a caller stops reading",
                                     "D-Bus", call.service().toStdString());
}

// The signature each method takes.
QString signatureOf(const QString& member) {
    if (member == "ConvertFile") return "says";
    if (member == "ConvertFileInPlace") return "ssb";
    return {};
}

// The calls this object takes: those of its interface, and those without one that name its
// methods; anything else without an interface may be the standard interfaces' (Introspect).
bool isTakenHere(const QDBusMessage& message) {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    if (message.interface() == IntentsService::interfaceName) return true;
    return message.interface().isEmpty() && !signatureOf(message.member()).isEmpty();
}

// What could not come in whole cannot go back: said before any work is done.
std::optional<QDBusMessage> tooLargeToReturn(const QDBusMessage& message, const QList<QVariant>& args, const DBusMessageLimits& limits) {
    const std::string name = args[0].toString().toStdString();
    const auto nameBytes = static_cast<std::uint64_t>(name.size());
    const auto size = static_cast<std::uint64_t>(args[1].toByteArray().size());
    if (limits.fits(nameBytes, size)) return std::nullopt;
    return message.createErrorReply(limitsExceeded, inQuotes(name) + " is too large for ConvertFile (" +
                                                        sizeAndLimit(size, limits.largestArray(nameBytes)) + " fit in one message). " +
                                                        useInPlace);
}

// The error a call is answered with at once: a method the interface lacks, arguments the method
// does not take, a file too large to return, a format it does not know.
std::optional<QDBusMessage> refusalOf(const QDBusMessage& message, const DBusMessageLimits& limits) {
    const QString member = message.member();
    const QString signature = signatureOf(member);
    if (signature.isEmpty())
        return message.createErrorReply(QDBusError::UnknownMethod,
                                        QString("No such method '%1' in interface '%2' at object path '%3' (signature '%4')")
                                            .arg(member, message.interface(), message.path(), message.signature()));
    if (message.signature() != signature)
        return message.createErrorReply(QDBusError::InvalidArgs,
                                        QString("%1 takes (%2), not (%3)").arg(member, signature, message.signature()));
    const QList<QVariant> args = message.arguments();
    if (member == "ConvertFile")
        if (auto tooLarge = tooLargeToReturn(message, args, limits)) return tooLarge;
    const QVariant& format = args[member == "ConvertFile" ? 2 : 1];
    if (formatChoice(format)) return std::nullopt;
    return message.createErrorReply("org.freedesktop.DBus.Error.InvalidArgs",
                                    "Unknown format \u201C" + format.toString() + "\u201D. Choose one of: " + everyChoice() + ".");
}

// A call's work, and whether it waits for one of the threads for large files.
struct Request {
    std::function<QVariantList()> work;
    bool large = false;
};

// ConvertFile: the file in the call, converted, goes back in the reply.
Request convertFileRequest(const QList<QVariant>& args, const DBusMessageLimits& limits) {
    const std::string name = args[0].toString().toStdString();
    QByteArray bytes = args[1].toByteArray();
    const bool large = static_cast<std::uint64_t>(bytes.size()) >= largeCallBytes;
    // The reply carries the output's name too, one file name at most.
    const std::uint64_t maximumResultSize = limits.largestArray(NAME_MAX * 4);
    const ConvertFormatChoice format = *formatChoice(args[2]);
    // The copy happens on the worker: the bus's thread only reads the bus.
    auto work = [name, bytes, format, maximumResultSize]() mutable {
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
    return {std::move(work), large};
}

// ConvertFileInPlace: the file converted beside its original; the reply gives the new path.
Request convertFileInPlaceRequest(const QList<QVariant>& args) {
    ConvertFileInPlaceIntent intent;
    const QByteArray path = args[0].toString().toUtf8();
    if (!path.isEmpty()) intent.file = std::filesystem::path(path.toStdString());
    intent.format = *formatChoice(args[1]);
    intent.replaceExisting = args[2].toBool();
    std::error_code ec;
    const bool large = intent.file && std::filesystem::file_size(*intent.file, ec) >= largeCallBytes && !ec;
    return {[intent = std::move(intent)] { return QVariantList{QString::fromStdString(intent.perform().string())}; }, large};
}

}  // namespace

struct IntentsService::Workers {
    Workers() {
        largeCalls.setMaxThreadCount(largeCallsAtOnce);
        smallCalls.setMaxThreadCount(smallCallsAtOnce);
    }
    ~Workers() { waitForDone(); }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // Work may wait for this thread (documents are read on it): what it posts here runs meanwhile.
    void waitForDone() {
        while (!largeCalls.waitForDone(10) || !smallCalls.waitForDone(10))
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }

    // Large files convert a few at a time, so that memory stays bounded however many arrive;
    // small ones have threads of their own and are answered meanwhile.
    QThreadPool largeCalls;
    QThreadPool smallCalls;
};

class IntentsService::Object : public QDBusVirtualObject {
public:
    Object(std::shared_ptr<Calls> calls, Workers& workers, DBusMessageLimits limits, std::shared_ptr<BusOutbox> outbox)
        : calls_(std::move(calls)), workers_(workers), limits_(limits), outbox_(std::move(outbox)), introspection_(introspection()) {}
    ~Object() override {
        if (deleted) deleted->set_value();
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // Told when the object goes, on whichever thread that is.
    std::promise<void>* deleted = nullptr;

    QString introspect(const QString&) const override { return introspection_; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (!isTakenHere(message)) return false;
        if (const std::optional<QDBusMessage> refusal = refusalOf(message, limits_)) {
            connection.send(*refusal);
            return true;
        }
        const QList<QVariant> args = message.arguments();
        start(message, message.member() == "ConvertFile" ? convertFileRequest(args, limits_) : convertFileInPlaceRequest(args));
        return true;
    }

private:
    // A call in the work and its reply: both refer to the message as it was received.
    struct Held {
        QDBusMessage call;
        QDBusMessage reply;
    };

    // The work runs on a worker, which sends the reply the call waits for.
    void start(const QDBusMessage& message, Request request) {
        // The call, and the reply made from it, hold the whole message as received until they
        // are let go of on this thread.
        auto held = std::make_shared<Held>();
        held->call = message;
        held->call.setDelayedReply(true);
        // The arguments are in the work now; the call keeps only what the reply needs.
        held->call.setArguments({});
        calls_->running.fetch_add(1);
        QThreadPool& pool = request.large ? workers_.largeCalls : workers_.smallCalls;
        pool.start([held = std::move(held), work = std::move(request.work), calls = calls_, outbox = outbox_]() mutable {
            held->reply = replyOf(held->call, work);
            work = nullptr;
            if (!outbox->send(held->reply, replyBytes(held->reply))) logDropped(held->call);
            outbox->release(std::move(held));
            qtmain::postToMain([calls] {
                calls->running.fetch_sub(1);
                // A copy: the end of the call may take the service, and this function, with it.
                if (auto ended = calls->ended) ended();
            });
        });
    }

    std::shared_ptr<Calls> calls_;
    Workers& workers_;
    DBusMessageLimits limits_;
    std::shared_ptr<BusOutbox> outbox_;
    QString introspection_;
};

void IntentsService::DeleteOnItsThread::operator()(Object* object) const {
    if (object->thread() == QThread::currentThread()) {
        delete object;
        return;
    }
    // Qt ties a registered object's destroyed signal to the connection by a call that waits for
    // the connection's thread, the very thread the object goes on; unregistered, it has nothing
    // left there to undo.
    QObject::disconnect(object, &QObject::destroyed, nullptr, nullptr);
    // Its thread takes calls one at a time: once it gets to this, none is being taken.
    std::promise<void> deleted;
    object->deleted = &deleted;
    object->deleteLater();
    deleted.get_future().wait();
}

IntentsService::IntentsService(std::function<void()> callEnded, DBusMessageLimits limits, BusTrafficBudget traffic)
    : calls_(std::make_shared<Calls>()), limits_(limits), traffic_(traffic), workers_(std::make_unique<Workers>()) {
    calls_->ended = std::move(callEnded);
}

IntentsService::~IntentsService() {
    // Whoever asked to hear of the calls' ends may be going too.
    calls_->ended = nullptr;
    if (bus_) bus_->unregisterObject(objectPath);
    // No call can start work after this; the work started is then finished and answered.
    object_.reset();
    workers_->waitForDone();
}

bool IntentsService::registerOn(QDBusConnection bus) {
    if (object_ || !bus.isConnected()) return false;
    // Calls run on the thread that reads the bus, which otherwise waits for the object's thread
    // to take each one; what they receive is let go of there.
    auto outbox = BusOutbox::open(bus, traffic_.sendingBytes, traffic_.sendingPatience);
    if (!outbox) return false;
    // Before the name is taken: the bus hands over calls that started this program as soon as
    // it is, ahead of the answer to the request, and a large one must not stop the reading.
    holdReceivedUpTo(bus, traffic_.receivedBytes);
    object_.reset(new Object(calls_, *workers_, limits_, outbox));
    object_->moveToThread(bus.interface()->thread());
    if (!bus.registerVirtualObject(objectPath, object_.get())) {
        object_.reset();
        return false;
    }
    if (!bus.registerService(serviceName)) {
        bus.unregisterObject(objectPath);
        object_.reset();
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
