#include "ReportSink.h"

#include <cstdio>
#include <cstring>

namespace report {

namespace {
constexpr qsizetype kChunk = 1 << 18;
}

Sink::Sink(QIODevice& dev) : dev_(dev) {
    buf_.resize(kChunk);
}

void Sink::flush() {
    if (pos_ == 0)
        return;
    if (!failed_ && dev_.write(buf_.constData(), pos_) != pos_)
        failed_ = true;
    pos_ = 0;
}

void Sink::putBytes(QByteArrayView b) {
    if (b.size() > kChunk / 2) {
        flush();
        if (!failed_ && dev_.write(b.data(), b.size()) != b.size())
            failed_ = true;
        return;
    }
    room(b.size());
    memcpy(buf_.data() + pos_, b.data(), size_t(b.size()));
    pos_ += b.size();
}

void Sink::put(QStringView s) {
    if (s.size() > kChunk / 8) {
        putBytes(s.toUtf8());
        return;
    }
    room(3 * s.size());
    char* out = buf_.data() + pos_;
    const char16_t* p = s.utf16();
    const char16_t* const end = p + s.size();
    while (p < end) {
        const char16_t u = *p;
        if (u < 0x80) {
            *out++ = char(u);
            ++p;
            continue;
        }
        if (u < 0x800) {
            *out++ = char(0xC0 | (u >> 6));
            *out++ = char(0x80 | (u & 0x3F));
            ++p;
            continue;
        }
        // Beyond the two-byte range (never from a Windows-1251 file): Qt's own encoder.
        const QByteArray rest = QStringView(p, end).toUtf8();
        pos_ = out - buf_.data();
        putBytes(rest);
        return;
    }
    pos_ = out - buf_.data();
}

void Sink::putSeconds(int hundredths, char point) {
    room(16);
    const qint64 v = hundredths;
    qint64 a = v < 0 ? -v : v;
    if (v < 0)
        buf_[pos_++] = '-';
    char digits[24];
    int n = 0;
    const int cents = int(a % 100);
    a /= 100;
    do {
        digits[n++] = char('0' + a % 10);
        a /= 10;
    } while (a);
    while (n)
        buf_[pos_++] = digits[--n];
    buf_[pos_++] = point;
    buf_[pos_++] = char('0' + cents / 10);
    buf_[pos_++] = char('0' + cents % 10);
}

void Sink::putHtml(QStringView s) {
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        const char* rep = u == u'&'   ? "&amp;"
                          : u == u'<' ? "&lt;"
                          : u == u'>' ? "&gt;"
                          : u == u'"' ? "&quot;"
                          : u == u'\n' ? "&#10;"
                          // Control characters have no place in a page.
                          : (u < 0x20 || (u >= 0x7F && u <= 0x9F)) ? "\xEF\xBF\xBD"
                                                                   : nullptr;
        if (!rep)
            continue;
        put(s.mid(from, i - from));
        putBytes(QByteArrayView(rep));
        from = i + 1;
    }
    put(s.mid(from));
}

void Sink::putJson(QStringView s) {
    *this << '"';
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        if (u >= 0x20 && u != u'"' && u != u'\\')
            continue;
        put(s.mid(from, i - from));
        if (u == u'"' || u == u'\\') {
            *this << '\\' << char(u);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(u));
            putBytes(QByteArrayView(esc));
        }
        from = i + 1;
    }
    put(s.mid(from));
    *this << '"';
}

bool LooksLikeFormula(QStringView field) {
    if (field.isEmpty())
        return false;
    const QChar c = field[0];
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

void Sink::putCsv(QStringView s, QChar sep) {
    bool quote = false;
    for (QChar c : s)
        if (c == sep || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    if (!quote) {
        if (LooksLikeFormula(s))
            *this << '\'';
        put(s);
        return;
    }
    *this << '"';
    if (LooksLikeFormula(s))
        *this << '\'';
    qsizetype from = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'"')
            continue;
        put(s.mid(from, i + 1 - from));
        *this << '"';
        from = i + 1;
    }
    put(s.mid(from));
    *this << '"';
}

} // namespace report
