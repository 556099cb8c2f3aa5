// Notices mounts and unmounts from the kernel's mount table.
//
// The kernel marks /proc/self/mountinfo with POLLPRI (and POLLERR) whenever the mount table
// of the process's namespace changes, so a socket notifier of the Exception kind on that
// file wakes the event loop exactly when something was mounted or unmounted; nothing is
// polled on a timer. The file always polls readable, so a Read notifier would fire without
// end and must not be used.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace cantorell {

class TMountWatcher : public QObject {
    Q_OBJECT
public:
    // Watches the given mount table (the process's own by default). A table that cannot be
    // opened leaves the watcher idle: IsWatching() says so and MountsChanged never fires.
    explicit TMountWatcher(QObject* parent = nullptr,
                           const QString& table = QStringLiteral("/proc/self/mountinfo"));
    ~TMountWatcher() override;

    bool IsWatching() const { return Fd >= 0; }

signals:
    // The table's text differs from what it was at the last signal (or at construction).
    void MountsChanged();

private:
    void TableSignalled();
    // The whole table as it is now; reading it also acknowledges the kernel's change mark.
    QByteArray ReadTable() const;

    int Fd = -1;
    QSocketNotifier* Notifier = nullptr;
    QByteArray LastTable;
};

} // namespace cantorell
