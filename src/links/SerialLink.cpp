#include "SerialLink.h"

#include <algorithm>
#include <cstring>

namespace {
struct SpeedRow {
    int baud;
    int us;
};
constexpr SpeedRow kSpeedTable[] = {{110, 100000}, {300, 37000}, {600, 18000}, {1200, 9000}, {2400, 4500},
                                    {4800, 2300},  {9600, 1100}, {14400, 760}, {19200, 570}, {38400, 290},
                                    {56000, 200},  {57600, 190}, {115200, 95}, {128000, 85}, {256000, 43}};
} // namespace

SerialLink::SerialLink(QObject* parent) : QObject(parent) {
    port_.setReadBufferSize(0);
    clusterTimer_.setSingleShot(true);
    clusterTimer_.setTimerType(Qt::PreciseTimer);
    writeTimer_.setSingleShot(true);
    writeTimer_.setTimerType(Qt::PreciseTimer);
    connect(&port_, &QSerialPort::readyRead, this, &SerialLink::readPort);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialLink::onError);
    connect(&clusterTimer_, &QTimer::timeout, this, &SerialLink::deliver);
    connect(&writeTimer_, &QTimer::timeout, this, &SerialLink::abandonWrite);
}

SerialLink::~SerialLink() {
    // No signals from a link being destroyed.
    port_.disconnect(this);
    close();
}

int SerialLink::charTimeUs(int baud) {
    int us = 1100;
    for (const SpeedRow& row : kSpeedTable)
        if (row.baud <= baud)
            us = row.us;
    return us;
}

void SerialLink::setPortName(const QString& name) {
    if (name == name_)
        return;
    const bool wasOpen = isActive();
    if (wasOpen)
        close();
    name_ = name;
    if (wasOpen)
        open();
}

void SerialLink::setBaudRate(int baud) {
    if (baud == baud_)
        return;
    baud_ = baud;
    if (isActive())
        port_.setBaudRate(baud_);
}

void SerialLink::setActive(bool active) {
    if (active == isActive())
        return;
    if (active)
        open();
    else
        close();
}

void SerialLink::open() {
    port_.setPortName(name_);
    port_.setBaudRate(baud_);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        openError_ = port_.errorString();
        port_.clearError();
        return;
    }
    openError_.clear();
    // Pseudo-terminals and some USB adapters refuse the modem-control lines; the link works
    // without them.
    port_.setDataTerminalReady(true);
    port_.setRequestToSend(true);
    port_.clearError();
    pending_.clear();
    sinceEmpty_.start();
}

void SerialLink::close() {
    if (closing_)
        return;
    closing_ = true;
    ++generation_;
    clusterTimer_.stop();
    writeTimer_.stop();
    pending_.clear();
    if (port_.isOpen()) {
        port_.clear(QSerialPort::AllDirections);
        port_.close();
    }
    port_.clearError();
    closing_ = false;
}

void SerialLink::readPort() {
    const QByteArray data = port_.readAll();
    if (data.isEmpty())
        return;
    if (pending_.isEmpty())
        sinceEmpty_.start();
    if (std::memchr(data.constData(), 0, size_t(data.size()))) {
        for (char c : data)
            if (c != '\0')
                pending_.append(c);
    } else {
        pending_.append(data);
    }
    deliver();
}

qint64 SerialLink::quietLimitUs() const {
    return qint64(pending_.size()) * charTimeUs() + qint64(kExtraDelayMs) * 1000;
}

void SerialLink::deliver() {
    // A handler that opens a modal box runs a nested event loop: bytes read meanwhile wait in
    // pending_ and the outer hand-over takes them in order.
    if (delivering_)
        return;
    delivering_ = true;
    const quint64 gen = generation_;
    while (gen == generation_ && !pending_.isEmpty()) {
        QByteArray cluster;
        if (pending_.size() >= kClusterSize) {
            cluster = pending_.left(kClusterSize);
            pending_.remove(0, kClusterSize);
        } else if (sinceEmpty_.nsecsElapsed() / 1000 > quietLimitUs()) {
            cluster.swap(pending_);
        } else {
            break;
        }
        sinceEmpty_.start();
        Q_EMIT clusterReceived(cluster);
    }
    delivering_ = false;
    if (gen != generation_)
        return;
    if (pending_.isEmpty()) {
        clusterTimer_.stop();
        return;
    }
    const qint64 leftUs = quietLimitUs() - sinceEmpty_.nsecsElapsed() / 1000;
    clusterTimer_.start(int(std::max<qint64>(leftUs / 1000 + 1, 1)));
}

void SerialLink::sendString(QByteArrayView bytes) {
    if (bytes.isEmpty() || !isActive())
        return;
    if (port_.bytesToWrite() > 0) {
        if (writeTimer_.isActive())
            return; // the earlier write still has time: this string is dropped
        abandonWrite();
    }
    port_.write(bytes.data(), bytes.size());
    writeTimer_.start(int((qint64(bytes.size()) * charTimeUs() + 999) / 1000 + kExtraDelayMs));
}

void SerialLink::abandonWrite() {
    if (isActive() && port_.bytesToWrite() > 0)
        port_.clear(QSerialPort::Output);
}

void SerialLink::onError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (!isActive() || closing_)
        return;
    // The device is gone: what arrived before is still handed over, then the link closes
    // instead of being woken again and again by a dead descriptor.
    const QString reason = port_.errorString();
    const quint64 gen = generation_;
    if (!pending_.isEmpty() && !delivering_) {
        QByteArray rest;
        rest.swap(pending_);
        Q_EMIT clusterReceived(rest);
    }
    if (gen == generation_)
        close();
    Q_EMIT closedOnError(reason);
}
