#include "MonthResults.h"

#include "core/AppError.h"
#include "core/TextFile.h"

#include <QCryptographicHash>
#include <QDate>
#include <QFile>

QString FileFingerprint::toText() const {
    if (!exists)
        return QStringLiteral("none");
    return QString::number(size) + u':' + QString::fromLatin1(md5);
}

bool FileFingerprint::fromText(const QString& text, FileFingerprint& out) {
    out = {};
    if (text == QStringLiteral("none"))
        return true;
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0)
        return false;
    bool ok = false;
    out.size = text.left(colon).toLongLong(&ok);
    out.md5 = text.mid(colon + 1).toLatin1();
    out.exists = true;
    return ok && out.md5.size() == 32;
}

FileFingerprint FileFingerprint::of(const QByteArray& bytes) {
    FileFingerprint f;
    f.exists = true;
    f.size = bytes.size();
    f.md5 = QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
    return f;
}

QString MonthResults::fileName(const QDate& date) {
    return date.toString(QStringLiteral("yyMM")) + ".tst";
}

QString MonthResults::sanitizeAnswer(const QString& answer) {
    QString out = answer.left(255);
    for (QChar& c : out) {
        if (c == u'^' || c.unicode() < 0x20)
            c = u'?';
    }
    return out;
}

MonthResults::MonthResults(QStringList lines) : lines_(std::move(lines)) {
    rebuildIndex();
}

void MonthResults::load(const QString& path) {
    lines_.clear();
    loaded_ = rewritten_ = {};
    if (QFile::exists(path)) {
        const QByteArray bytes = TextFile::readBytes(path);
        loaded_ = rewritten_ = FileFingerprint::of(bytes);
        lines_ = TextFile::splitLines(bytes);
        // Another editor's line ends (or none after the last line) go in the next rewrite.
        const bool crLf = bytes.isEmpty() || (bytes.endsWith('\n') && bytes.count('\n') == bytes.count("\r\n"));
        if (!crLf)
            rewritten_ = FileFingerprint::of(TextFile::joinLines(lines_));
    }
    rebuildIndex();
}

void MonthResults::save(const QString& path) {
    const QByteArray bytes = TextFile::joinLines(lines_);
    TextFile::writeBytes(path, bytes, true); // its journal is deleted once it is written
    loaded_ = rewritten_ = FileFingerprint::of(bytes); // a journal made from now on applies to this file
}

QString MonthResults::keyOf(const QString& line) {
    const qsizetype caret = line.indexOf(u'^');
    return caret < 0 ? QString() : line.left(caret);
}

void MonthResults::rebuildIndex() {
    index_.clear();
    index_.reserve(lines_.size());
    for (int i = 0; i < lines_.size(); ++i)
        addToIndex(keyOf(lines_[i]), i);
}

void MonthResults::addToIndex(const QString& key, int line) {
    auto it = index_.find(key);
    if (it == index_.end()) // the first line of a key wins
        index_.insert(key, line);
}

int MonthResults::IndexOfChannel(const QString& key) const {
    return index_.value(key, -1);
}

void MonthResults::AddResult(const QString& key, const QString& answer, const QString& delay,
                             const QString& stamp) {
    const QString group = answer + u'^' + delay + u'^' + stamp + u'^';
    const int i = IndexOfChannel(key);
    if (i < 0) {
        lines_.append(key + u'^' + group);
        addToIndex(keyOf(lines_.last()), int(lines_.size()) - 1);
    } else {
        // A hand-edited or damaged line may lack its closing caret or hold a broken group;
        // close it first, so that the new test stands in a group of its own.
        QString& line = lines_[i];
        if (!line.endsWith(u'^'))
            line += u'^';
        while ((line.count(u'^') - 1) % 3 != 0)
            line += u'^';
        line += group;
    }
}
