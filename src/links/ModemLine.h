#pragma once
// One modem of a run, whatever carries it: a serial port, a TCP connection to a modem server,
// or no link at all. It is opened, written to and closed; what it receives goes into its own
// log, where the test cycle reads its answers, and every line completed there is told. A display
// log may be given the same bytes to show them; its size never touches the answers. The run
// owns its lines; a bank is N lines of one kind.

#include "CommLog.h"
#include "ModemPort.h"

#include <QObject>
#include <QString>
#include <memory>

class SerialLink;
class TcpLink;

class ModemLine : public QObject, public ModemPort {
    Q_OBJECT
public:
    // Its own log holds `keptLines` lines; `display` (may be nullptr) is given every byte too.
    ModemLine(QString name, CommLog* display, int keptLines);
    ~ModemLine() override;

    const QString& name() const { return name_; }
    CommLog& log() { return *log_; }
    const CommLog& log() const { return *log_; }

    // Starts the connection; raises AppError when it cannot even be started (a bad address).
    virtual void open() = 0;
    // The connection is open (a serial port opened, a TCP connection up).
    virtual bool isOpen() const = 0;
    void send(const QByteArray& bytes) final;
    void reopen() override;

Q_SIGNALS:
    void sent(const QByteArray& bytes);
    void lineCompleted(const QByteArray& line);
    // The connection went away under the line (the far end closed it, the device vanished).
    void failed(const QString& why);

protected:
    // Writes the bytes; false when they could not be sent now.
    virtual bool write(const QByteArray& bytes) = 0;
    void receive(const QByteArray& data);

private:
    QString name_;
    std::unique_ptr<CommLog> log_;
    CommLog* display_;
};

// A local serial port: "up" once opened; a port that cannot be opened fails the run's start with
// the system's reason.
class SerialLine : public ModemLine {
    Q_OBJECT
public:
    SerialLine(const QString& port, int baud, CommLog* log, int keptLines);
    ~SerialLine() override;
    void open() override;
    bool isOpen() const override;
    void close() override;

protected:
    bool write(const QByteArray& bytes) override;

private:
    std::unique_ptr<SerialLink> link_;
};

// A TCP connection to one port of a modem server.
class TcpLine : public ModemLine {
    Q_OBJECT
public:
    TcpLine(const QString& address, const QString& port, CommLog* log, int keptLines);
    ~TcpLine() override;
    void open() override;
    bool isOpen() const override;
    Link link() const override;
    void close() override;

protected:
    bool write(const QByteArray& bytes) override;

private:
    QString address_;
    std::unique_ptr<TcpLink> link_;
    bool closing_ = false; // a close of its own is no failure
};

// No link chosen: nothing is sent and nothing comes back, so the run ends at the time-out.
class NoLine : public ModemLine {
    Q_OBJECT
public:
    NoLine(CommLog* log, int keptLines) : ModemLine(QString(), log, keptLines) {}
    void open() override {}
    bool isOpen() const override { return false; }

protected:
    bool write(const QByteArray&) override { return false; }
};
