#include "accessibility.h"
#include "childprocess.h"
#include "xserver.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>

#include <atomic>

namespace mojitan::e2e {

namespace {

constexpr int kCallTimeoutMs = 5000;

QString uniqueConnectionName(const char *what)
{
    static std::atomic<int> serial{0};
    return QStringLiteral("mojitan-e2e-%1-%2").arg(QLatin1String(what)).arg(++serial);
}

// (so): how AT-SPI names an object, here as it comes off the wire.
struct WireRef {
    QString service;
    QDBusObjectPath path;
};

QDBusArgument &operator<<(QDBusArgument &arg, const WireRef &ref)
{
    arg.beginStructure();
    arg << ref.service << ref.path;
    arg.endStructure();
    return arg;
}

const QDBusArgument &operator>>(const QDBusArgument &arg, WireRef &ref)
{
    arg.beginStructure();
    arg >> ref.service >> ref.path;
    arg.endStructure();
    return arg;
}

QDBusMessage call(QDBusConnection &bus, const AtspiRef &ref, const QString &interface,
                  const QString &method, const QVariantList &args = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(ref.service, ref.path, interface, method);
    message.setArguments(args);
    return bus.call(message, QDBus::Block, kCallTimeoutMs);
}

bool answered(const QDBusMessage &reply)
{
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
}

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");

} // namespace

} // namespace mojitan::e2e

Q_DECLARE_METATYPE(mojitan::e2e::WireRef)

namespace mojitan::e2e {

PrivateSessionBus::~PrivateSessionBus() { stop(); }

bool PrivateSessionBus::start(const QString &display, const QString &runtimeDir, QString *error)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_daemon.setProcessEnvironment(env);
    m_daemon.setStandardErrorFile(runtimeDir + QStringLiteral("/session-bus.log"));
    mojitan::testing::endWithTheTest(m_daemon); // the accessibility bus and its helpers leave with it
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1"),
                    QStringLiteral("--address=unix:path=") + runtimeDir + QStringLiteral("/bus")});
    if (!m_daemon.waitForStarted(5000)) {
        *error = QStringLiteral("dbus-daemon did not start: ") + m_daemon.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() && m_daemon.state() == QProcess::Running) {
        m_daemon.waitForReadyRead(100);
        out += m_daemon.readAllStandardOutput();
    }
    m_address = QString::fromLocal8Bit(out.trimmed());
    if (m_address.isEmpty()) {
        *error = QStringLiteral("dbus-daemon gave no address");
        return false;
    }

    // A screen reader announces itself by setting these; the launcher starts on the first
    // call and brings up the accessibility bus.
    m_connectionName = uniqueConnectionName("session");
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_connectionName);
    if (!bus.isConnected()) {
        *error = QStringLiteral("cannot reach the session bus: ") + bus.lastError().message();
        return false;
    }
    const AtspiRef status{QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus")};
    for (const char *property : {"IsEnabled", "ScreenReaderEnabled"}) {
        const QDBusMessage reply =
            call(bus, status, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                 {QStringLiteral("org.a11y.Status"), QLatin1String(property),
                  QVariant::fromValue(QDBusVariant(true))});
        if (reply.type() != QDBusMessage::ReplyMessage) {
            *error = QStringLiteral("cannot switch accessibility on (is at-spi2-core installed?): ")
                + reply.errorMessage();
            return false;
        }
    }
    const QDBusMessage reply =
        call(bus, status, QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    if (answered(reply))
        m_a11yAddress = reply.arguments().at(0).toString();
    if (m_a11yAddress.isEmpty()) {
        *error = QStringLiteral("the accessibility bus has no address: ") + reply.errorMessage();
        return false;
    }
    return true;
}

void PrivateSessionBus::stop()
{
    if (!m_connectionName.isEmpty()) {
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connectionName.clear();
    }
    // The launcher, the accessibility bus and its registry leave with the session bus.
    mojitan::testing::stopChild(m_daemon);
}

const AtspiNode *AtspiNode::find(const std::function<bool(const AtspiNode &)> &match) const
{
    if (match(*this))
        return this;
    for (const AtspiNode &child : children)
        if (const AtspiNode *found = child.find(match))
            return found;
    return nullptr;
}

std::vector<const AtspiNode *>
AtspiNode::findAll(const std::function<bool(const AtspiNode &)> &match) const
{
    std::vector<const AtspiNode *> found;
    if (match(*this))
        found.push_back(this);
    for (const AtspiNode &child : children)
        for (const AtspiNode *n : child.findAll(match))
            found.push_back(n);
    return found;
}

QString AtspiNode::dump(int indent) const
{
    QString text = QString(indent, u' ')
        + QStringLiteral("%1 \"%2\" at %3,%4 %5x%6%7\n")
              .arg(role, QString(name).replace(u'\n', QStringLiteral("\\n")))
              .arg(extents.x())
              .arg(extents.y())
              .arg(extents.width())
              .arg(extents.height())
              .arg(isShowing() ? QString() : QStringLiteral(" (not showing)"));
    for (const AtspiNode &child : children)
        text += child.dump(indent + 2);
    return text;
}

AtspiReader::AtspiReader(const QString &a11yAddress)
    : m_bus(QDBusConnection::connectToBus(a11yAddress, uniqueConnectionName("a11y")))
{
    qDBusRegisterMetaType<WireRef>();
    qDBusRegisterMetaType<QList<WireRef>>();
}

AtspiReader::~AtspiReader() { QDBusConnection::disconnectFromBus(m_bus.name()); }

bool AtspiReader::isConnected() const { return m_bus.isConnected(); }

std::optional<AtspiRef> AtspiReader::applicationOf(qint64 pid)
{
    // The desktop (the registry's root) lists every application that registered.
    const AtspiRef desktop{QStringLiteral("org.a11y.atspi.Registry"),
                           QStringLiteral("/org/a11y/atspi/accessible/root")};
    const QDBusMessage reply = call(m_bus, desktop, kAccessible, QStringLiteral("GetChildren"));
    if (!answered(reply))
        return std::nullopt;
    const auto apps = qdbus_cast<QList<WireRef>>(reply.arguments().at(0));
    for (const WireRef &app : apps) {
        QDBusMessage ask = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
        ask.setArguments({app.service});
        const QDBusMessage owner = m_bus.call(ask, QDBus::Block, kCallTimeoutMs);
        if (answered(owner) && owner.arguments().at(0).toLongLong() == pid)
            return AtspiRef{app.service, app.path.path()};
    }
    return std::nullopt;
}

QString AtspiReader::name(const AtspiRef &ref)
{
    const QDBusMessage reply = call(m_bus, ref, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kAccessible, QStringLiteral("Name")});
    return answered(reply) ? reply.arguments().at(0).value<QDBusVariant>().variant().toString()
                           : QString();
}

quint64 AtspiReader::states(const AtspiRef &ref)
{
    const QDBusMessage reply = call(m_bus, ref, kAccessible, QStringLiteral("GetState"));
    if (!answered(reply))
        return 0;
    const auto words = qdbus_cast<QList<uint>>(reply.arguments().at(0));
    quint64 states = 0;
    for (int i = 0; i < words.size() && i < 2; ++i)
        states |= quint64(words[i]) << (32 * i);
    return states;
}

AtspiNode AtspiReader::read(const AtspiRef &ref)
{
    AtspiNode node;
    node.ref = ref;
    node.name = name(ref);
    node.states = states(ref);
    if (const QDBusMessage r = call(m_bus, ref, kAccessible, QStringLiteral("GetRoleName")); answered(r))
        node.role = r.arguments().at(0).toString();

    auto extents = [&](uint coordinates) {
        const QDBusMessage r = call(m_bus, ref, QStringLiteral("org.a11y.atspi.Component"),
                                    QStringLiteral("GetExtents"), {coordinates});
        if (!answered(r))
            return QRect();
        const QDBusArgument arg = r.arguments().at(0).value<QDBusArgument>();
        int x = 0, y = 0, w = 0, h = 0;
        arg.beginStructure();
        arg >> x >> y >> w >> h;
        arg.endStructure();
        return QRect(x, y, w, h);
    };
    // The application object has no place on the screen; everything below it has.
    if (node.role != QLatin1String("application")) {
        node.onScreen = extents(0);
        node.extents = extents(1);
    }

    if (const QDBusMessage r = call(m_bus, ref, kAccessible, QStringLiteral("GetChildren")); answered(r))
        for (const WireRef &child : qdbus_cast<QList<WireRef>>(r.arguments().at(0)))
            node.children.push_back(read(AtspiRef{child.service, child.path.path()}));
    return node;
}

} // namespace mojitan::e2e
