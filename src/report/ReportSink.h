#pragma once
// The output of every format: buffered UTF-8 to a device, with the escaping each format needs.

#include <QByteArray>
#include <QIODevice>
#include <QString>

namespace report {

// Buffered UTF-8 output to a device, written piece by piece without building lines first.
class Sink {
public:
    explicit Sink(QIODevice& dev);
    ~Sink() { flush(); }
    Sink& operator<<(QStringView s) {
        put(s);
        return *this;
    }
    Sink& operator<<(const QString& s) { return *this << QStringView(s); }
    Sink& operator<<(const char* s) {
        putBytes(QByteArrayView(s));
        return *this;
    }
    Sink& operator<<(const QByteArray& s) {
        putBytes(s);
        return *this;
    }
    Sink& operator<<(char c) {
        room(1);
        buf_[pos_++] = c;
        return *this;
    }
    Sink& operator<<(int n) {
        putBytes(QByteArray::number(n));
        return *this;
    }
    Sink& operator<<(qint64 n) {
        putBytes(QByteArray::number(n));
        return *this;
    }
    void put(QStringView s);
    void putBytes(QByteArrayView b);
    void putSeconds(int hundredths, char point = '.'); // 2200 -> "22.00"
    void putHtml(QStringView s);     // escaped for text and attributes
    void putJson(QStringView s);     // a JSON string with its quotes
    // A csv field: quoted when it must be, and with an apostrophe in front when a spreadsheet
    // would take it for a formula.
    void putCsv(QStringView s, QChar sep);
    void flush();
    bool failed() const { return failed_; }

private:
    void room(qsizetype n) {
        if (pos_ + n > buf_.size())
            flush();
    }
    QIODevice& dev_;
    QByteArray buf_;
    qsizetype pos_ = 0;
    bool failed_ = false;
};

// Whether a spreadsheet takes a field beginning so for a formula (CSV injection).
bool LooksLikeFormula(QStringView field);

} // namespace report
