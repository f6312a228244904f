#include "KanvoFile.h"

#include "core/AppError.h"
#include "core/Cp1251.h"
#include "core/MyUtils.h"

#include <QDir>
#include <QFile>

namespace {
struct Field {
    int offset;
    int capacity;
};
constexpr Field Direction{0, 20};
constexpr Field Exchange{21, 30};
constexpr Field Channel{52, 10};
constexpr Field Code{63, 4};

QString field(const char* record, Field f) {
    const int length = std::min<int>(static_cast<unsigned char>(record[f.offset]), f.capacity);
    return Cp1251::decode(QByteArrayView(record + f.offset + 1, length));
}

QString storable(QString text) {
    text.remove(u'^');
    text.remove(u'\r');
    text.remove(u'\n');
    return text;
}
} // namespace

QVector<KanvoRecord> KanvoFile::parse(QByteArrayView bytes) {
    QVector<KanvoRecord> records;
    const qsizetype count = bytes.size() / RecordSize;
    records.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const char* rec = bytes.data() + i * RecordSize;
        if (rec[Direction.offset] == 0)
            continue;
        records.append({field(rec, Direction), field(rec, Exchange), field(rec, Channel), field(rec, Code)});
    }
    return records;
}

qsizetype KanvoFile::firstBadRecord(QByteArrayView bytes) {
    const qsizetype count = bytes.size() / RecordSize;
    for (qsizetype i = 0; i < count; ++i) {
        const char* rec = bytes.data() + i * RecordSize;
        if (rec[Direction.offset] == 0)
            continue;
        for (const Field f : {Direction, Exchange, Channel, Code})
            if (static_cast<unsigned char>(rec[f.offset]) > f.capacity)
                return i;
    }
    return -1;
}

QVector<KanvoRecord> KanvoFile::read(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(
            QStringLiteral("Cannot open file %1. %2").arg(QDir::toNativeSeparators(path), f.errorString()));
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw FileError(
            QStringLiteral("Cannot read file %1. %2").arg(QDir::toNativeSeparators(path), f.errorString()));
    if (const qsizetype bad = firstBadRecord(bytes); bad >= 0)
        throw FileError(QStringLiteral("Файлът %1 не е списък с канали: запис № %2 (от байт %3) има поле, "
                                       "по-дълго от допустимото. Нищо не е вкарано.")
                            .arg(QDir::toNativeSeparators(path))
                            .arg(bad + 1)
                            .arg(bad * RecordSize));
    return parse(bytes);
}

ChannelRecord KanvoFile::toChannel(const KanvoRecord& r, const QString& prefix) {
    return {storable(r.direction), storable(r.exchange), KeepDigits(r.channel),
            prefix + PadTo4(storable(r.code))};
}
