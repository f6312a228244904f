#pragma once
// The serial modem link: a local serial port at 8-N-1 without flow control whose received
// bytes are handed over in clusters, the way a modem answer arrives in one piece.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

class SerialLink : public QObject {
    Q_OBJECT
public:
    static constexpr int kClusterSize = 3025; // bytes; a larger arrival is handed over in pieces
    static constexpr int kExtraDelayMs = 250; // added to the per-character time of reads and writes

    explicit SerialLink(QObject* parent = nullptr);
    ~SerialLink() override;

    // Microseconds per character at a speed: the last table row not above it (1100 below 110).
    static int charTimeUs(int baud);

    QString portName() const { return name_; }
    // Renaming an open port closes it and opens the named one; the same name does nothing.
    void setPortName(const QString& name);
    int baudRate() const { return baud_; }
    void setBaudRate(int baud); // applied to an open port at once
    int charTimeUs() const { return charTimeUs(baud_); }

    bool isActive() const { return port_.isOpen(); }
    // True opens the port for exclusive use (a failure leaves it closed, with openError() set);
    // false discards what is queued both ways and closes it.
    void setActive(bool active);
    // Why the last open failed, in the system's words; empty after an open that succeeded.
    const QString& openError() const { return openError_; }

    // Writes the bytes; discarded while an earlier write is still within its time.
    void sendString(QByteArrayView bytes);

    // An earlier write has not left yet; it is abandoned once its time is over.
    bool writeInProgress() const { return port_.bytesToWrite() > 0; }
    // Received bytes not yet handed over (NUL bytes already stripped).
    qsizetype pendingBytes() const { return pending_.size(); }

Q_SIGNALS:
    void clusterReceived(const QByteArray& cluster);
    // The port went away under the link (device unplugged, pseudo-terminal closed).
    void closedOnError(const QString& reason);

private:
    void open();
    void close();
    void readPort();
    void deliver();
    void onError(QSerialPort::SerialPortError error);
    void abandonWrite();
    qint64 quietLimitUs() const; // how long the pending bytes may wait before they form a cluster

    QSerialPort port_;
    QString openError_;
    QString name_ = QStringLiteral("COM2");
    int baud_ = 9600;
    QByteArray pending_;
    QElapsedTimer sinceEmpty_; // since the queue was last found empty or a cluster was taken
    QTimer clusterTimer_;
    QTimer writeTimer_;      // runs while a write is within its time
    quint64 generation_ = 0; // bumped by every close, so a hand-over cut short by it stops
    bool delivering_ = false;
    bool closing_ = false; // purging a dead port reports errors of its own
};
