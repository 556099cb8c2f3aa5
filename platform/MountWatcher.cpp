#include "platform/MountWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace cantorell {

TMountWatcher::TMountWatcher(QObject* parent, const QString& table) : QObject(parent) {
    const QByteArray name = table.toLocal8Bit();
    Fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0)
        return;
    LastTable = ReadTable();
    Notifier = new QSocketNotifier(Fd, QSocketNotifier::Exception, this);
    connect(Notifier, &QSocketNotifier::activated, this, &TMountWatcher::TableSignalled);
}

TMountWatcher::~TMountWatcher() {
    // The notifier must go before the descriptor it watches is closed.
    delete Notifier;
    if (Fd >= 0)
        ::close(Fd);
}

QByteArray TMountWatcher::ReadTable() const {
    QByteArray text;
    if (::lseek(Fd, 0, SEEK_SET) < 0)
        return text;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(Fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        break;
    }
    return text;
}

void TMountWatcher::TableSignalled() {
    // Mounting one volume can mark the table several times; only a real difference is
    // passed on, so listeners refresh once per change.
    QByteArray now = ReadTable();
    if (now == LastTable)
        return;
    LastTable = std::move(now);
    emit MountsChanged();
}

} // namespace cantorell
