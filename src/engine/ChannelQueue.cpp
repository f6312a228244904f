#include "ChannelQueue.h"

#include <algorithm>

ChannelQueue::ChannelQueue(QStringList channels)
    : channels_(std::move(channels)), handedBack_(size_t(channels_.size()), false) {}

int ChannelQueue::take() {
    if (!returned_.empty()) {
        const int index = returned_.front();
        returned_.pop_front();
        return index;
    }
    return next_ < count() ? next_++ : -1;
}

void ChannelQueue::handBack(int index, bool dialled) {
    if (index < 0 || index >= count())
        return;
    if (dialled) {
        if (handedBack_[size_t(index)]) {
            ++finished_; // given up: two lines failed on it
            return;
        }
        handedBack_[size_t(index)] = true;
    }
    returned_.insert(std::upper_bound(returned_.begin(), returned_.end(), index), index);
}

void ChannelQueue::finish(int index) {
    if (index >= 0 && index < count())
        ++finished_;
}
