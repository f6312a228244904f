#pragma once
// The web face of a station: its own thread runs Qt's HTTP server (the page, the API, /metrics)
// with its event loop, a pool of two threads reads the files a request needs, one more checks
// passwords; the bridge on the station's thread is the only one that touches the station. What
// the service's command line says about it is here too.

#include "HttpGuard.h"

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <thread>

class Clock;
class QEventLoop;
class Station;

namespace web {

class StationBridge;

struct WebOptions {
    struct Address {
        QHostAddress host;
        quint16 port = 0;
    };
    QList<Address> listen;
    QString tlsCert, tlsKey;
    QString usersFile;
    bool metricsLogin = false;
    bool trustProxy = false;
    HttpLimits limits;
};

// "127.0.0.1:8470", "[::1]:8470", "localhost:8470", "0.0.0.0:8470"; false with a message.
bool ParseListen(const QString& text, WebOptions::Address& out, QString& error);

class WebService {
public:
    // `log` writes a line of the service's log on the station's thread.
    WebService(Station& station, const Clock& clock, std::function<void(const QString&, bool error)> log);
    ~WebService();

    // Listens on every address; false with the reason, and nothing listens.
    bool start(const WebOptions& options, const QString& folder, const QString& results, QString& error);
    // Closes every connection and ends the web thread; waits for the jobs under way.
    void stop();
    // The ports listened on, in the order given (a port 0 gets a free one).
    QList<quint16> ports() const { return ports_; }
    StationBridge& bridge() { return *bridge_; }

private:
    void inWebThread(const std::function<void()>& f);

    std::unique_ptr<StationBridge> bridge_;
    // The web thread, with an event loop of its own; joined, so that nothing of it outlives stop().
    std::thread thread_;
    QThreadPool pool_, loginPool_;
    QObject* holder_ = nullptr; // lives on the web thread; the server and the API are its children
    QEventLoop* loop_ = nullptr;
    QList<quint16> ports_;
};

} // namespace web
