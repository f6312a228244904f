#include "Sessions.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>

namespace web {

namespace {
QByteArray randomToken() {
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}
} // namespace

QByteArray Sessions::key(const QByteArray& token) {
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

QByteArray Sessions::open(const QString& user, Role role, qint64 nowMs) {
    if (sessions_.size() >= kMaxSessions)
        dropOldest();
    const QByteArray token = randomToken();
    sessions_.insert(key(token), {user, role, randomToken(), nowMs, nowMs});
    return token;
}

const Sessions::Session* Sessions::find(const QByteArray& token, qint64 nowMs) {
    if (token.isEmpty() || token.size() > 128)
        return nullptr;
    const auto it = sessions_.find(key(token));
    if (it == sessions_.end())
        return nullptr;
    if (nowMs - it->seenMs > kIdleMs || nowMs - it->createdMs > kLongestMs) {
        sessions_.erase(it);
        return nullptr;
    }
    it->seenMs = nowMs;
    return &*it;
}

void Sessions::close(const QByteArray& token) {
    sessions_.remove(key(token));
}

void Sessions::retain(const std::function<bool(const Session&)>& keep) {
    sessions_.removeIf([&](const auto& s) { return !keep(s.value()); });
}

void Sessions::dropOldest() {
    auto oldest = std::min_element(sessions_.begin(), sessions_.end(),
                                   [](const Session& a, const Session& b) { return a.seenMs < b.seenMs; });
    if (oldest != sessions_.end())
        sessions_.erase(oldest);
}

QByteArray Sessions::tokenIn(const QByteArray& cookieHeader) {
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith(kCookie + '='))
            return p.mid(kCookie.size() + 1);
    }
    return {};
}

QByteArray Sessions::setCookie(const QByteArray& token, bool secure) {
    QByteArray c = kCookie + '=' + token + "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" +
                   QByteArray::number(token.isEmpty() ? 0 : kLongestMs / 1000);
    if (secure)
        c += "; Secure";
    return c;
}

bool Sessions::sameToken(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

qint64 LoginThrottle::waitMs(const QHostAddress& client, qint64 nowMs) const {
    const auto it = clients_.constFind(client);
    if (it == clients_.constEnd() || it->failures < kFree || nowMs - it->lastMs > kForgetMs)
        return 0;
    // Two seconds after the fifth, doubled with each further one: longer than the second a failure
    // takes to be answered, so that a client that guesses one at a time waits too.
    const qint64 wait = std::min<qint64>(kLongestWaitMs, 2000LL << std::min(it->failures - kFree, 20));
    return std::max<qint64>(0, it->lastMs + wait - nowMs);
}

void LoginThrottle::failed(const QHostAddress& client, qint64 nowMs) {
    ++failures_;
    if (clients_.size() >= kMaxClients && !clients_.contains(client))
        clients_.removeIf([&](const auto& e) { return nowMs - e.value().lastMs > kForgetMs; });
    if (clients_.size() >= kMaxClients && !clients_.contains(client))
        clients_.erase(clients_.begin()); // a flood of addresses: forget one rather than grow
    Entry& e = clients_[client];
    if (nowMs - e.lastMs > kForgetMs)
        e.failures = 0;
    ++e.failures;
    e.lastMs = nowMs;
}

} // namespace web
