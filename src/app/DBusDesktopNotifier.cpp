#include "app/DBusDesktopNotifier.h"

#include "app/OperatorText.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <utility>

namespace varnello {

DBusDesktopNotifier::DBusDesktopNotifier(Logger logger) : logger_(std::move(logger)) {}

void DBusDesktopNotifier::notify(const std::string& summary, const std::string& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        reportFailure("no session bus");
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Varnello Bridge") << 0u << QStringLiteral("varnello-bridge")
         << QString::fromStdString(summary) << QString::fromStdString(body) << QStringList()
         << QVariantMap() << -1;
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call, static_cast<int>(answerLimit.count())), &context_);
    ++pending_;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context_,
                     [this](QDBusPendingCallWatcher* finished) {
                         --pending_;
                         if (finished->isError()) {
                             reportFailure(finished->error().message().toStdString());
                         }
                         finished->deleteLater();
                     });
}

void DBusDesktopNotifier::finishPending(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pending_ > 0 && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

void DBusDesktopNotifier::reportFailure(const std::string& detail) {
    if (told_ == Told::unavailable) {
        return;
    }
    told_ = Told::unavailable;
    logger_.notice(std::string(operatorText(OperatorText::notificationServerUnavailable)) + " (" +
                   detail + ")");
}

} // namespace varnello
