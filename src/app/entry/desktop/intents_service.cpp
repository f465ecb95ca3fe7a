#include "app/entry/desktop/intents_service.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QThreadPool>

#include <climits>
#include <string>

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
        : running_(std::move(running)), callEnded_(std::move(callEnded)), limits_(limits), introspection_(introspection()) {}

    QString introspect(const QString&) const override { return introspection_; }

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
        QString formatText;
        if (member == "ConvertFile") {
            formatText = args[2].toString();
            auto choice = formatChoice(args[2]);
            knownFormat = choice.has_value();
            ConvertFileIntent intent;
            intent.file.name = args[0].toString().toStdString();
            const QByteArray bytes = args[1].toByteArray();
            // What could not come in whole cannot go back: said before any work is done.
            const auto nameBytes = static_cast<std::uint64_t>(intent.file.name.size());
            const auto size = static_cast<std::uint64_t>(bytes.size());
            if (!limits_.fits(nameBytes, size)) {
                connection.send(message.createErrorReply(
                    limitsExceeded, inQuotes(intent.file.name) + " is too large for ConvertFile (" +
                                        sizeAndLimit(size, limits_.largestArray(nameBytes)) + " fit in one message). " + useInPlace));
                return true;
            }
            intent.file.contents.assign(bytes.begin(), bytes.end());
            // The reply carries the output's name too, one file name at most.
            intent.maximumResultSize = limits_.largestArray(NAME_MAX * 4);
            if (choice) intent.format = *choice;
            work = [intent = std::move(intent)] {
                IntentFile out = intent.perform();
                return QVariantList{QString::fromStdString(out.name),
                                    QByteArray(reinterpret_cast<const char*>(out.contents.data()),
                                               static_cast<qsizetype>(out.contents.size()))};
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
            work = [intent = std::move(intent)] { return QVariantList{QString::fromStdString(intent.perform().string())}; };
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
    DBusMessageLimits limits_;
    QString introspection_;
};

IntentsService::IntentsService(std::function<void()> callEnded, DBusMessageLimits limits)
    : running_(std::make_shared<std::atomic<int>>(0)),
      object_(std::make_unique<Object>(running_, std::move(callEnded), limits)) {}

IntentsService::~IntentsService() {
    if (bus_) bus_->unregisterObject(objectPath);
}

bool IntentsService::registerOn(QDBusConnection bus) {
    if (!bus.isConnected()) return false;
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
