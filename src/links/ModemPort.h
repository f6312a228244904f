#pragma once
// A modem's link as the test cycle sees it; a string that cannot be sent now is dropped.

#include <QByteArray>

class ModemPort {
public:
    enum class Link { Up, Connecting, Down };
    virtual ~ModemPort() = default;
    virtual void send(const QByteArray& bytes) = 0;
    // Whether the connection is up; asked only in a bank of two or more modems.
    virtual Link link() const { return Link::Up; }
    // The line left the run: its connection is closed.
    virtual void close() {}
    // Closes the connection and opens it anew, to bring back a modem that fell silent.
    virtual void reopen() {}
};
