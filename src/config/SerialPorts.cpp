#include "SerialPorts.h"

#include <QDir>
#include <QFile>
#include <QSerialPortInfo>
#include <cerrno>
#include <sys/stat.h>

QStringList SerialPorts::systemPorts() {
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& p : ports)
        names.append(p.systemLocation());
    return names;
}

bool SerialPorts::mayBeDevice(const QString& path) {
    if (isCharacterDevice(path))
        return true;
    struct stat st {};
    // stat() follows links: a by-id link whose device is gone is absent too.
    return QDir::isAbsolutePath(path) && ::stat(QFile::encodeName(path).constData(), &st) != 0 &&
           errno == ENOENT;
}

bool SerialPorts::isCharacterDevice(const QString& path) {
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    struct stat st {};
    // stat() follows links, so a link is judged by what it leads to.
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}
