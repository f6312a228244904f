#pragma once
// Small helpers of the fuzz entry points: taking parameters from the input, describing a case.

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Takes leading bytes as parameters; past the end every byte reads 0.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    QByteArrayView rest() const {
        return QByteArrayView(reinterpret_cast<const char*>(data_) + pos_, qsizetype(size_ - pos_));
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline QByteArrayView bytesOf(const uint8_t* data, size_t size) {
    return QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The case in a failure message: the text escaped and cut, numbers as they are.
inline std::string show(const QString& text) {
    QString s;
    for (QChar c : text.left(80)) {
        if (c == u'\\')
            s += QStringLiteral("\\\\");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            s += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            s += c;
    }
    return "[" + s.toStdString() + (text.size() > 80 ? "...]" : "]");
}
inline std::string show(long long n) {
    return " " + std::to_string(n);
}
template <typename... Rest> std::string show(const QString& text, Rest... rest) {
    return show(text) + (show(static_cast<long long>(rest)) + ... + std::string());
}

} // namespace fuzz
