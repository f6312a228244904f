#include "Bench.h"

#include "core/TextFile.h"

#include <QTemporaryDir>

CHANTEST_BENCH("textfile") {
    QTemporaryDir dir;
    QStringList lines;
    for (int i = 0; i < 65434; ++i)
        lines.append(QStringLiteral("Направление %1^Уредба^%2^#8%3^").arg(i % 50).arg(i).arg(i % 10000));
    const QString path = dir.filePath(QStringLiteral("x.dat"));
    bench::report(QStringLiteral("textfile.write_65434_lines"),
                  bench::seconds([&] { TextFile::writeLines(path, lines); }), QStringLiteral("s"));
    bench::report(QStringLiteral("textfile.read_65434_lines"),
                  bench::seconds([&] { (void)TextFile::readLines(path); }), QStringLiteral("s"));
}
