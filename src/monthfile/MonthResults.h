#pragma once
// The month results file in memory: one line per channel key, each test appended as a result
// group (answer, delay, timestamp); channel lines are found through a hash index.

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>
#include <QStringList>

// What a month file held when it was read: enough to tell later whether it was rewritten.
struct FileFingerprint {
    bool exists = false;
    qint64 size = 0;
    QByteArray md5; // hex
    bool operator==(const FileFingerprint&) const = default;
    QString toText() const;
    static bool fromText(const QString& text, FileFingerprint& out);
    static FileFingerprint of(const QByteArray& bytes);
};

class MonthResults {
public:
    // "yymm.tst" of the given date.
    static QString fileName(const QDate& date);
    // Modem noise never shifts fields: carets and control characters become '?', at most 255 kept.
    static QString sanitizeAnswer(const QString& answer);

    MonthResults() = default;
    explicit MonthResults(QStringList lines);

    // A missing file gives an empty list; an unreadable one raises FileError.
    void load(const QString& path);
    // Replaces the file whole and atomically (Windows-1251, CR LF); the fingerprint is then
    // that of the file written.
    void save(const QString& path);
    const FileFingerprint& loadedFingerprint() const { return loaded_; }
    // The file read as save() writes it unchanged (CR LF after every line); differs from the
    // loaded one only for a file last saved by another editor.
    const FileFingerprint& rewrittenFingerprint() const { return rewritten_; }

    // 0-based index of the first line whose field 0 equals the key, or -1.
    int IndexOfChannel(const QString& key) const;
    void AddResult(const QString& key, const QString& answer, const QString& delay, const QString& stamp);

    const QStringList& lines() const { return lines_; }
    int count() const { return int(lines_.size()); }

private:
    static QString keyOf(const QString& line);
    void rebuildIndex();
    void addToIndex(const QString& key, int line);

    QStringList lines_;
    QHash<QString, int> index_; // key -> first line holding it
    FileFingerprint loaded_, rewritten_;
};
