#pragma once
// The service's log: one line per event on standard output, written at once. Under systemd the
// journal stamps the time and reads the priority from a "<N>" prefix; elsewhere each line
// begins with its own ISO time stamp.

#include <QString>

class Clock;

class EventLog {
public:
    // The syslog priorities the journal reads.
    enum class Level { Error = 3, Warning = 4, Info = 6 };

    // `journal`: the lines go to the system journal.
    EventLog(int fd, bool journal, const Clock& clock);
    // Writes `text` as one line: line breaks become blanks, other control characters '?'.
    void line(const QString& text, Level level = Level::Info);
    // Standard output is the journal's stream: JOURNAL_STREAM names its device and inode.
    static bool stdoutIsJournal();

private:
    int fd_;
    bool journal_;
    const Clock& clock_;
};
