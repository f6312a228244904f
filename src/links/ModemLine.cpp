#include "ModemLine.h"

#include "SerialLink.h"
#include "TcpLink.h"
#include "core/AppError.h"

#include <algorithm>

ModemLine::ModemLine(QString name, CommLog* display, int keptLines)
    : name_(std::move(name)), log_(std::make_unique<CommLog>(keptLines)), display_(display) {}

ModemLine::~ModemLine() = default;

void ModemLine::send(const QByteArray& bytes) {
    if (write(bytes))
        Q_EMIT sent(bytes);
}

void ModemLine::reopen() {
    close();
    try {
        open();
    } catch (const AppError&) {
        // It stays closed: the modem has not come back.
    }
}

void ModemLine::receive(const QByteArray& data) {
    if (data.isEmpty())
        return;
    if (display_)
        display_->append(data);
    const int from = log_->commLineIndex();
    log_->append(data);
    for (int i = std::max(from, log_->firstKeptIndex()); i < log_->commLineIndex(); ++i)
        Q_EMIT lineCompleted(log_->lineBytes(i));
}

SerialLine::SerialLine(const QString& port, int baud, CommLog* log, int keptLines)
    : ModemLine(port, log, keptLines), link_(std::make_unique<SerialLink>()) {
    link_->setPortName(port.left(255));
    link_->setBaudRate(baud);
    connect(link_.get(), &SerialLink::clusterReceived, this, &SerialLine::receive);
    connect(link_.get(), &SerialLink::closedOnError, this, &SerialLine::failed);
}

SerialLine::~SerialLine() = default;

void SerialLine::open() {
    link_->setActive(true);
    // Said at the run's start, not 180 s later as a silent modem.
    if (!link_->isActive())
        throw AppError(QStringLiteral("Серийният порт %1 не може да се отвори: %2.")
                           .arg(name().isEmpty() ? QStringLiteral("(без име)") : name(), link_->openError()));
}

bool SerialLine::isOpen() const {
    return link_->isActive();
}

void SerialLine::close() {
    link_->setActive(false);
}

bool SerialLine::write(const QByteArray& bytes) {
    link_->sendString(bytes);
    return true;
}

TcpLine::TcpLine(const QString& address, const QString& port, CommLog* log, int keptLines)
    : ModemLine(port, log, keptLines), address_(address), link_(std::make_unique<TcpLink>()) {
    connect(link_.get(), &TcpLink::dataReceived, this, &TcpLine::receive);
    connect(link_.get(), &TcpLink::stateChanged, this, [this](TcpLink::State s) {
        if (s == TcpLink::wsClosed && !closing_)
            Q_EMIT failed(QStringLiteral("Връзката с %1:%2 е прекъсната или отказана.").arg(address_, name()));
    });
}

TcpLine::~TcpLine() = default;

void TcpLine::open() {
    link_->connectTo(address_, name());
}

bool TcpLine::isOpen() const {
    return link_->isConnected();
}

ModemPort::Link TcpLine::link() const {
    switch (link_->state()) {
    case TcpLink::wsConnected:
        return Link::Up;
    case TcpLink::wsClosed:
        return Link::Down;
    default:
        return Link::Connecting;
    }
}

void TcpLine::close() {
    closing_ = true;
    link_->close();
    closing_ = false;
}

bool TcpLine::write(const QByteArray& bytes) {
    if (!link_->isConnected())
        return false;
    link_->sendString(bytes);
    return true;
}
