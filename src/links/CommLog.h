#pragma once
// The communication log: the lines received from the modem and CommLineIndex, the index of
// the open line. Indexes are absolute for the life of the program; only the latest lines are
// kept, so memory stays bounded over weeks of running and under a flood.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <deque>
#include <functional>

class CommLog {
public:
    static constexpr int kKeptLines = 100000;   // completed and open lines kept in memory
    static constexpr int kMaxLineLength = 4096; // the open line is cut here

    explicit CommLog(int keptLines = kKeptLines);
    // Changes how many lines are kept; the oldest go at once when there are more. The logs of
    // a modem bank share the bound of one log.
    void setKeptLines(int keptLines);
    int keptLines() const { return kept_; }
    // Appends received bytes (Windows-1251): LF ends a line, CR and backspace are ignored,
    // a chunk that begins with a backspace first shortens the open line by the chunk's length.
    // NUL bytes are dropped before anything else, as if they had never arrived.
    void append(QByteArrayView chunk);
    int commLineIndex() const { return first_ + int(lines_.size()) - 1; } // the open line
    QString line(int index) const;         // empty text for an index not kept or not yet reached
    QByteArray lineBytes(int index) const; // the same, as received
    int firstKeptIndex() const { return first_; }
    // Keeps the line at `index` readable even after it falls out of the kept lines (one such
    // line at a time): the answer to a dial must survive a flood that follows it.
    void keepLine(int index) const {
        keptIndex_ = index;
        keptBytes_.clear();
    }
    // Called after every append that was given bytes; the display uses it (one listener).
    void setAppendedCallback(std::function<void()> callback) { appended_ = std::move(callback); }
    // Bytes of line text held in memory, for the memory figures.
    qint64 heldBytes() const;

private:
    void appendText(const char* p, qsizetype n);
    void completeLine();
    void dropOldest();

    std::deque<QByteArray> lines_; // lines_[0] has index first_; the last one is the open line
    int first_ = 0;
    int kept_ = kKeptLines;
    mutable int keptIndex_ = -1;
    mutable QByteArray keptBytes_; // its text once it left lines_
    std::function<void()> appended_;
};
