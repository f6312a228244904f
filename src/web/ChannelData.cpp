#include "ChannelData.h"

#include "config/ChannelBase.h"
#include "core/TextFile.h"
#include "tasks/ChannelSelection.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <deque>

namespace web {

namespace {
QMutex cacheMutex;
std::shared_ptr<const ChannelBaseView> lastBase;
struct Listed {
    QString token;
    QVector<QString> directions;
    std::shared_ptr<const ChannelListing> listing;
};
std::deque<Listed> lastListings; // the latest first
constexpr size_t kListingsKept = 8;
} // namespace

std::shared_ptr<const ChannelBaseView> ReadChannelBase(const QString& folder) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(ChannelBase::FileName));
    const QFileInfo info(path);
    const QString token = info.exists() ? QStringLiteral("%1-%2")
                                              .arg(info.lastModified().toMSecsSinceEpoch())
                                              .arg(info.size())
                                        : QStringLiteral("none");
    {
        QMutexLocker lock(&cacheMutex);
        if (lastBase && lastBase->token == token)
            return lastBase;
    }
    auto base = std::make_shared<ChannelBaseView>();
    base->token = token;
    if (info.exists()) {
        base->sorted = ChannelSelection::sortBase(TextFile::readLines(path));
        base->directions = ChannelSelection::directions(base->sorted);
    }
    QMutexLocker lock(&cacheMutex);
    lastBase = base;
    return base;
}

std::shared_ptr<const ChannelListing> ListChannels(const ChannelBaseView& base, const QVector<QString>& directions) {
    {
        QMutexLocker lock(&cacheMutex);
        for (const Listed& l : lastListings)
            if (l.token == base.token && l.directions == directions)
                return l.listing;
    }
    auto listing = std::make_shared<ChannelListing>();
    ChannelSelection::Listing l = ChannelSelection::listChannels(base.sorted, directions);
    listing->exchanges = std::move(l.exchanges);
    listing->channels = std::move(l.channels);
    listing->marks.resize(listing->exchanges.size());
    // An exchange checks an item when the text after the item's first "-- " begins with the
    // exchange and two blanks: every place of two blanks there is a candidate end of it.
    QHash<QString, int> exchangeIndex;
    for (int e = 0; e < listing->exchanges.size(); ++e)
        exchangeIndex.insert(listing->exchanges[e], e);
    for (int c = 0; c < listing->channels.size(); ++c) {
        const QStringView item = listing->channels[c];
        const qsizetype dash = item.indexOf(u"-- ");
        if (dash < 0)
            continue;
        const QStringView rest = item.mid(dash + 3);
        for (qsizetype end = rest.indexOf(u"  "); end >= 0; end = rest.indexOf(u"  ", end + 1)) {
            const auto it = exchangeIndex.constFind(rest.left(end).toString());
            if (it == exchangeIndex.constEnd())
                continue;
            QVector<QPair<int, int>>& runs = listing->marks[*it];
            if (!runs.isEmpty() && runs.last().second == c - 1)
                runs.last().second = c;
            else if (runs.isEmpty() || runs.last().second != c)
                runs.append({c, c});
        }
    }
    QMutexLocker lock(&cacheMutex);
    lastListings.push_front({base.token, directions, listing});
    if (lastListings.size() > kListingsKept)
        lastListings.pop_back();
    return listing;
}

} // namespace web
