// A desktop notification server for the tests, on the session bus it is given:
// takes org.freedesktop.Notifications and prints each notification as one line,
// "notification: <summary>|<body>" (newlines in the body as "\n"). With --silent it
// takes every call and never answers, as a hung server would. With --name NAME it
// holds that bus name instead (and answers nothing under the bridge's path). Prints
// "ready" once it holds the name.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <cstdio>

namespace {

class Server final : public QDBusVirtualObject {
public:
    explicit Server(bool silent) : silent_(silent) {}

    QString introspect(const QString&) const override {
        return QStringLiteral("<interface name=\"org.freedesktop.Notifications\">"
                              "<method name=\"Notify\"/><method name=\"GetCapabilities\"/>"
                              "<method name=\"GetServerInformation\"/></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QStringLiteral("org.freedesktop.Notifications")) {
            return false;
        }
        if (message.member() == QStringLiteral("Notify")) {
            const QList<QVariant> arguments = message.arguments();
            if (arguments.size() == 8) {
                QString body = arguments[4].toString();
                body.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
                std::printf("notification: %s|%s\n", arguments[3].toString().toUtf8().constData(),
                            body.toUtf8().constData());
                std::fflush(stdout);
            }
            if (!silent_) {
                connection.send(message.createReply(QVariant(++lastID_)));
            }
            return true;
        }
        if (silent_) {
            return true;
        }
        if (message.member() == QStringLiteral("GetCapabilities")) {
            connection.send(message.createReply(QVariant(QStringList{QStringLiteral("body")})));
            return true;
        }
        if (message.member() == QStringLiteral("GetServerInformation")) {
            connection.send(message.createReply(
                QList<QVariant>{QStringLiteral("test"), QStringLiteral("varnello"),
                                QStringLiteral("1"), QStringLiteral("1.2")}));
            return true;
        }
        return false;
    }

private:
    bool silent_;
    quint32 lastID_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    bool silent = false;
    QString name = QStringLiteral("org.freedesktop.Notifications");
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--silent") {
            silent = true;
        } else if (QByteArray(argv[i]) == "--name" && i + 1 < argc) {
            name = QString::fromLocal8Bit(argv[++i]);
        }
    }
    Server server(silent);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &server) ||
        !bus.registerService(name)) {
        std::fprintf(stderr, "no session bus or name taken: %s\n",
                     bus.lastError().message().toUtf8().constData());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
