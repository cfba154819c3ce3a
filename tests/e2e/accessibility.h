#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <vector>

namespace mojitan::e2e {

// A session bus of the test's own, with the desktop's accessibility switched on the way a
// screen reader does it: the accessibility bus launcher (started by the bus on demand) is
// told that assistive technology is present. Programs started on this bus afterwards expose
// their windows on the accessibility bus.
class PrivateSessionBus {
public:
    PrivateSessionBus() = default;
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    // `display` is passed on to the launcher; `runtimeDir` holds the buses' sockets.
    bool start(const QString &display, const QString &runtimeDir, QString *error);
    void stop();
    QString address() const { return m_address; }
    QString accessibilityAddress() const { return m_a11yAddress; }

private:
    QProcess m_daemon;
    QString m_address;
    QString m_a11yAddress;
    QString m_connectionName;
};

// One object of the accessibility tree: a D-Bus name and an object path.
struct AtspiRef {
    QString service;
    QString path;
    bool isNull() const { return service.isEmpty(); }
};

// The AT-SPI states a test looks at (bit numbers of the protocol's state set).
enum class AtspiState {
    Active = 1,
    Enabled = 8,
    Focused = 12,
    Sensitive = 24,
    Showing = 25,
    Visible = 30,
};

// What a screen reader knows about an object, read in one go.
struct AtspiNode {
    AtspiRef ref;
    QString role;  // "label", "push button", "panel", ...
    QString name;  // a label's or button's text; the letter for the big letter display
    QRect extents; // relative to its window
    QRect onScreen;
    quint64 states = 0;
    std::vector<AtspiNode> children;

    bool has(AtspiState s) const { return states & (quint64(1) << int(s)); }
    bool isShowing() const { return has(AtspiState::Showing) && has(AtspiState::Visible); }
    // Depth first, this node included.
    const AtspiNode *find(const std::function<bool(const AtspiNode &)> &match) const;
    std::vector<const AtspiNode *> findAll(const std::function<bool(const AtspiNode &)> &match) const;
    // An indented dump, for failure messages.
    QString dump(int indent = 0) const;
};

// Reads the accessibility tree over D-Bus, as assistive technology does.
class AtspiReader {
public:
    explicit AtspiReader(const QString &a11yAddress);
    ~AtspiReader();
    AtspiReader(const AtspiReader &) = delete;
    AtspiReader &operator=(const AtspiReader &) = delete;

    bool isConnected() const;
    // The application that a process registered with the desktop, if it has.
    std::optional<AtspiRef> applicationOf(qint64 pid);
    AtspiNode read(const AtspiRef &ref);
    QString name(const AtspiRef &ref);
    quint64 states(const AtspiRef &ref);

private:
    QDBusConnection m_bus;
};

} // namespace mojitan::e2e
