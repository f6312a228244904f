#include "CommLog.h"

#include "core/Cp1251.h"

#include <algorithm>
#include <cstring>

CommLog::CommLog(int keptLines) : kept_(std::max(1, keptLines)) {
    lines_.emplace_back();
}

void CommLog::setKeptLines(int keptLines) {
    kept_ = std::max(1, keptLines);
    while (lines_.size() > size_t(kept_))
        dropOldest();
}

void CommLog::dropOldest() {
    if (first_ == keptIndex_)
        keptBytes_ = std::move(lines_.front());
    lines_.pop_front();
    ++first_;
}

void CommLog::append(QByteArrayView chunk) {
    if (chunk.isEmpty())
        return;
    QByteArray stripped;
    if (std::memchr(chunk.data(), 0, size_t(chunk.size()))) {
        stripped.reserve(chunk.size());
        for (char c : chunk)
            if (c != '\0')
                stripped.append(c);
        if (stripped.isEmpty())
            return;
        chunk = stripped;
    }
    // A chunk led by a backspace rubs out as many characters as it holds in all: the way the
    // modem's own line editing has always been mirrored here.
    if (chunk.front() == '\b') {
        QByteArray& open = lines_.back();
        open.chop(std::min(chunk.size(), open.size()));
    }
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    while (p < end) {
        const char* q = p;
        while (q < end && *q != '\n' && *q != '\r' && *q != '\b')
            ++q;
        appendText(p, q - p);
        if (q == end)
            break;
        if (*q == '\n')
            completeLine();
        p = q + 1;
    }
    if (appended_)
        appended_();
}

void CommLog::appendText(const char* p, qsizetype n) {
    QByteArray& open = lines_.back();
    const qsizetype room = kMaxLineLength - open.size();
    if (room > 0 && n > 0)
        open.append(p, std::min(n, room));
}

void CommLog::completeLine() {
    QByteArray& done = lines_.back();
    if (done.capacity() > done.size() + 16)
        done.squeeze();
    lines_.emplace_back();
    if (lines_.size() > size_t(kept_))
        dropOldest();
}

QByteArray CommLog::lineBytes(int index) const {
    if (index == keptIndex_ && index < first_)
        return keptBytes_;
    if (index < first_ || index > commLineIndex())
        return {};
    return lines_[size_t(index - first_)];
}

QString CommLog::line(int index) const {
    return Cp1251::decode(lineBytes(index));
}

qint64 CommLog::heldBytes() const {
    qint64 n = 0;
    for (const QByteArray& l : lines_)
        n += l.capacity();
    return n;
}
