#include "DataDirs.h"

#include <QDir>
#include <QFileInfo>

bool IsInstalledCopy(const QString& appDir) {
    const QString dir = QFileInfo(appDir).canonicalFilePath();
    return dir == QLatin1String("/bin") || dir == QLatin1String("/sbin") || dir.startsWith(QLatin1String("/usr/")) ||
           dir.startsWith(QLatin1String("/opt/"));
}

QString MakeDataDir(const QString& appDir, const QString& name) {
    const QString beside = QDir(appDir).filePath(name);
    if (!IsInstalledCopy(appDir) && QDir().mkpath(beside) && QFileInfo(beside).isWritable())
        return beside;
    return QDir::current().filePath(name);
}

QString ExistingDataDir(const QString& appDir, const QString& name) {
    const QString beside = QDir(appDir).filePath(name);
    const QFileInfo info(beside);
    if (!IsInstalledCopy(appDir) && info.isDir() && info.isWritable())
        return beside;
    return QDir::current().filePath(name);
}
