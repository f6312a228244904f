#include "ChannelQueue.h"

#include <algorithm>

ChannelQueue::ChannelQueue(QStringList channels)
    : channels_(std::move(channels)), handedBackBy_(size_t(channels_.size()), kNotHandedBack) {}

int ChannelQueue::take(int line) {
    for (auto it = returned_.begin(); it != returned_.end(); ++it) {
        if (line < 0 || handedBackBy_[size_t(*it)] != line) {
            const int index = *it;
            returned_.erase(it);
            return index;
        }
    }
    return next_ < count() ? next_++ : -1;
}

void ChannelQueue::handBack(int index, bool dialled, int line) {
    if (index < 0 || index >= count())
        return;
    if (dialled) {
        if (handedBackBy_[size_t(index)] != kNotHandedBack) {
            ++finished_; // given up: two lines failed on it
            givenUp_.push_back(index);
            return;
        }
        handedBackBy_[size_t(index)] = line;
    }
    returned_.insert(std::upper_bound(returned_.begin(), returned_.end(), index), index);
}

void ChannelQueue::finish(int index) {
    if (index >= 0 && index < count())
        ++finished_;
}
