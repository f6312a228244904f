#include "SerialPorts.h"

#include <QDir>
#include <QFile>
#include <QSerialPortInfo>
#include <sys/stat.h>

QStringList SerialPorts::systemPorts() {
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& p : ports)
        names.append(p.systemLocation());
    return names;
}

bool SerialPorts::isCharacterDevice(const QString& path) {
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    struct stat st {};
    // stat() follows links, so a link is judged by what it leads to.
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}
