#pragma once
// The channels of one run, shared by the lines of a modem bank: handed out in task order; a
// channel that a line could not finish goes back to the head of the queue once, for another line.

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

class ChannelQueue {
public:
    explicit ChannelQueue(QStringList channels);

    int count() const { return int(channels_.size()); }
    const QString& channel(int index) const { return channels_[index]; }

    // The next channel for the free line `line`, -1 when none is left to hand out. A channel
    // the line itself gave back is left for another line, unless `line` is -1.
    int take(int line = -1);
    // Line `line` gives back a channel whose answer it has not recorded. One that was dialled
    // goes back once; the second time it is given up (and counts as finished).
    void handBack(int index, bool dialled, int line = -1);
    // The channel's test is complete.
    void finish(int index);
    int finished() const { return finished_; }
    bool waiting() const { return next_ < count() || !returned_.empty(); }
    // The channels given up, in the order they were.
    const std::vector<int>& givenUp() const { return givenUp_; }

private:
    static constexpr int kNotHandedBack = -2;
    QStringList channels_;
    int next_ = 0;
    std::deque<int> returned_;       // handed back, in task order, before the untouched ones
    std::vector<int> handedBackBy_;  // the line that gave a dialled channel back, or kNotHandedBack
    int finished_ = 0;
    std::vector<int> givenUp_;
};
