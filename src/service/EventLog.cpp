#include "EventLog.h"

#include "core/Clock.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

EventLog::EventLog(int fd, bool journal, const Clock& clock) : fd_(fd), journal_(journal), clock_(clock) {}

void EventLog::line(const QString& text, Level level) {
    QString clean;
    clean.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\n')
            clean += u' ';
        else if (c == u'\r')
            continue;
        else
            clean += c.unicode() < 0x20 || c.unicode() == 0x7F ? QChar(u'?') : c;
    }
    QByteArray out;
    if (journal_)
        out = '<' + QByteArray::number(int(level)) + '>';
    else
        out = clock_.now().toString(Qt::ISODate).toUtf8() + ' ';
    out += clean.toUtf8();
    out += '\n';
    // Unbuffered: the journal sees the line at once. A closed output loses the line, nothing else.
    const char* p = out.constData();
    qsizetype left = out.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
}

bool EventLog::stdoutIsJournal() {
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    if (stream.isEmpty())
        return false;
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0)
        return false;
    const QList<QByteArray> parts = stream.split(':');
    return parts.size() == 2 && parts[0].toULongLong() == quint64(st.st_dev) &&
           parts[1].toULongLong() == quint64(st.st_ino);
}
