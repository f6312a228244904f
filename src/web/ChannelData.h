#pragma once
// The channel base as the web face lists it, by the selection lists' rules: the directions of
// the sorted base, and for the directions chosen their exchanges and channels. Read away from the
// web thread (a base holds up to 65,434 channels); the base read last and the listings made last
// are kept while the file stays the same. Safe from any thread.

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

namespace web {

struct ChannelBaseView {
    QString token; // changes whenever the file does; a new task names the base it was chosen from
    QStringList sorted;
    QVector<QString> directions;
};

// ChBase.dat of `folder`; no file is an empty base. Raises AppError when it cannot be read.
std::shared_ptr<const ChannelBaseView> ReadChannelBase(const QString& folder);

struct ChannelListing {
    QVector<QString> exchanges;
    QVector<QString> channels; // the channel items, each a task file's channel line
    // Per exchange, the runs [first, last] of the channels its check mark checks.
    QVector<QVector<QPair<int, int>>> marks;
};

// The channels of the checked directions (each one of the base's, as listed) in the selection
// lists' order.
std::shared_ptr<const ChannelListing> ListChannels(const ChannelBaseView& base, const QVector<QString>& directions);

} // namespace web
