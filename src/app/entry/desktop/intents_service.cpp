#include "app/entry/desktop/intents_service.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QThreadPool>

#include <string>

#include "app/entry/desktop/convert_file_intent.h"
#include "app/entry/desktop/intent_errors.h"
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
    }
    return "org.freedesktop.DBus.Error.Failed";
}

// The reply to a call whose work threw: the error's own text under its own name.
QDBusMessage errorReply(const QDBusMessage& call, std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
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

const char* introspection =
    "  <interface name=\"app.calvoro.Intents\">\n"
    "    <method name=\"ConvertFile\">\n"
    "      <arg name=\"name\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"contents\" type=\"ay\" direction=\"in\"/>\n"
    "      <arg name=\"format\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"name\" type=\"s\" direction=\"out\"/>\n"
    "      <arg name=\"contents\" type=\"ay\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <method name=\"ConvertFileInPlace\">\n"
    "      <arg name=\"path\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"format\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"replaceExisting\" type=\"b\" direction=\"in\"/>\n"
    "      <arg name=\"path\" type=\"s\" direction=\"out\"/>\n"
    "    </method>\n"
    "  </interface>\n";

}  // namespace

class IntentsService::Object : public QDBusVirtualObject {
public:
    Object(std::shared_ptr<std::atomic<int>> running, std::function<void()> callEnded)
        : running_(std::move(running)), callEnded_(std::move(callEnded)) {}

    QString introspect(const QString&) const override { return introspection; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage) return false;
        if (!message.interface().isEmpty() && message.interface() != interfaceName) return false;
        const QList<QVariant> args = message.arguments();
        const QString member = message.member();
        std::function<QVariantList()> work;
        bool knownFormat = true;
        QString formatText;
        if (member == "ConvertFile" && message.signature() == "says") {
            formatText = args[2].toString();
            auto choice = formatChoice(args[2]);
            knownFormat = choice.has_value();
            ConvertFileIntent intent;
            intent.file.name = args[0].toString().toStdString();
            const QByteArray bytes = args[1].toByteArray();
            intent.file.contents.assign(bytes.begin(), bytes.end());
            if (choice) intent.format = *choice;
            work = [intent = std::move(intent)] {
                IntentFile out = intent.perform();
                return QVariantList{QString::fromStdString(out.name),
                                    QByteArray(reinterpret_cast<const char*>(out.contents.data()),
                                               static_cast<qsizetype>(out.contents.size()))};
            };
        } else if (member == "ConvertFileInPlace" && message.signature() == "ssb") {
            formatText = args[1].toString();
            auto choice = formatChoice(args[1]);
            knownFormat = choice.has_value();
            ConvertFileInPlaceIntent intent;
            const QByteArray path = args[0].toString().toUtf8();
            if (!path.isEmpty()) intent.file = std::filesystem::path(path.toStdString());
            if (choice) intent.format = *choice;
            intent.replaceExisting = args[2].toBool();
            work = [intent = std::move(intent)] { return QVariantList{QString::fromStdString(intent.perform().string())}; };
        } else {
            return false;
        }
        if (!knownFormat) {
            connection.send(message.createErrorReply("org.freedesktop.DBus.Error.InvalidArgs",
                                                     "Unknown format \u201C" + formatText + "\u201D. Choose one of: " + everyChoice() + "."));
            return true;
        }

        QDBusMessage call = message;
        call.setDelayedReply(true);
        running_->fetch_add(1);
        QThreadPool::globalInstance()->start([call, connection, work = std::move(work), running = running_, ended = callEnded_] {
            QDBusMessage reply;
            try {
                reply = call.createReply(work());
            } catch (...) {
                reply = errorReply(call, std::current_exception());
            }
            QDBusConnection(connection).send(reply);
            qtmain::postToMain([running, ended] {
                running->fetch_sub(1);
                if (ended) ended();
            });
        });
        return true;
    }

private:
    std::shared_ptr<std::atomic<int>> running_;
    std::function<void()> callEnded_;
};

IntentsService::IntentsService(std::function<void()> callEnded)
    : running_(std::make_shared<std::atomic<int>>(0)), object_(std::make_unique<Object>(running_, std::move(callEnded))) {}

IntentsService::~IntentsService() = default;

bool IntentsService::registerOn(QDBusConnection bus) {
    if (!bus.isConnected()) return false;
    if (!bus.registerVirtualObject(objectPath, object_.get())) return false;
    if (!bus.registerService(serviceName)) {
        bus.unregisterObject(objectPath);
        return false;
    }
    return true;
}

}  // namespace calvoro
