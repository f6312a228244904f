#pragma once
// The channels of one run, shared by the lines of a modem bank: handed out in task order, a
// channel that a leaving line could not finish goes back to the head of the queue once.

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

class ChannelQueue {
public:
    explicit ChannelQueue(QStringList channels);

    int count() const { return int(channels_.size()); }
    const QString& channel(int index) const { return channels_[index]; }

    // The next channel for a free line, -1 when none is left to hand out.
    int take();
    // A leaving line gives back a channel whose answer it has not recorded. One that was
    // dialled goes back once; the second time it is given up (and counts as finished).
    void handBack(int index, bool dialled);
    // The channel's test is complete.
    void finish(int index);
    int finished() const { return finished_; }
    bool waiting() const { return next_ < count() || !returned_.empty(); }

private:
    QStringList channels_;
    int next_ = 0;
    std::deque<int> returned_;     // handed back, in task order, before the untouched ones
    std::vector<bool> handedBack_; // a dialled channel already went back once
    int finished_ = 0;
};
