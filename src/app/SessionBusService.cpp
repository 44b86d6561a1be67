#include "app/SessionBusService.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <utility>

namespace varnello {

SessionBusService::SessionBusService(std::function<bool()> showWindow,
                                     std::function<std::string()> status)
    : showWindow_(std::move(showWindow)), status_(std::move(status)) {}

SessionBusService::Registration SessionBusService::registerOn(QDBusConnection connection) {
    if (!connection.isConnected()) {
        return Registration::noBus;
    }
    if (!connection.registerVirtualObject(QString::fromLatin1(sessionbus::path), this)) {
        return Registration::noBus;
    }
    if (!connection.registerService(QString::fromLatin1(sessionbus::name))) {
        connection.unregisterObject(QString::fromLatin1(sessionbus::path));
        // A bus that refuses for another reason leaves the name without an owner.
        return connection.interface()->isServiceRegistered(QString::fromLatin1(sessionbus::name))
                   ? Registration::nameTaken
                   : Registration::noBus;
    }
    return Registration::registered;
}

QString SessionBusService::introspect(const QString&) const {
    return QStringLiteral("<interface name=\"%1\">"
                          "<method name=\"ShowWindow\"><arg type=\"b\" direction=\"out\"/></method>"
                          "<method name=\"Status\"><arg type=\"s\" direction=\"out\"/></method>"
                          "</interface>")
        .arg(QString::fromLatin1(sessionbus::interface));
}

bool SessionBusService::handleMessage(const QDBusMessage& message,
                                      const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage ||
        message.interface() != QString::fromLatin1(sessionbus::interface) ||
        !message.arguments().isEmpty()) {
        return false;
    }
    if (message.member() == QStringLiteral("ShowWindow")) {
        connection.send(message.createReply(QVariant(showWindow_())));
        return true;
    }
    if (message.member() == QStringLiteral("Status")) {
        connection.send(message.createReply(QVariant(QString::fromStdString(status_()))));
        return true;
    }
    return false;
}

RunningBridgeAnswer callRunningBridge(const char* method, std::chrono::milliseconds limit) {
    RunningBridgeAnswer answer;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(sessionbus::name))) {
        return answer;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(sessionbus::name), QString::fromLatin1(sessionbus::path),
        QString::fromLatin1(sessionbus::interface), QString::fromLatin1(method));
    const QDBusMessage reply = bus.call(call, QDBus::Block, static_cast<int>(limit.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        answer.outcome = RunningBridgeAnswer::Outcome::noAnswer;
        answer.text = reply.errorMessage().toStdString();
        return answer;
    }
    answer.outcome = RunningBridgeAnswer::Outcome::answered;
    const QVariant value = reply.arguments().front();
    answer.shown = value.toBool();
    answer.text = value.toString().toStdString();
    return answer;
}

} // namespace varnello
