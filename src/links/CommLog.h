#pragma once
// The communication log: the lines received from the modem and CommLineIndex, the index of
// the open line. Indexes are absolute for the life of the program; only the latest lines are
// kept, so memory stays bounded over weeks of running and under a flood.

#include <QByteArrayView>
#include <QString>
#include <deque>

class CommLog {
public:
    static constexpr int kKeptLines = 100000;   // completed and open lines kept in memory
    static constexpr int kMaxLineLength = 4096; // the open line is cut here

    CommLog();
    // Appends received bytes (Windows-1251): LF ends a line, CR and backspace are ignored,
    // a chunk that begins with a backspace first shortens the open line by the chunk's length.
    void append(QByteArrayView chunk);
    int commLineIndex() const;       // the open line
    QString line(int index) const;   // empty text for an index not kept or not yet reached
    int firstKeptIndex() const;
    // Lines completed since the last call, and the open line's text: for the display.
    int takeCompletedSince(int fromIndex) const { return commLineIndex() - fromIndex; }

private:
    std::deque<QString> lines_; // lines_[0] has index first_
    int first_ = 0;
};
