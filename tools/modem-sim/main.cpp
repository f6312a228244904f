// modem-sim: a Hayes modem for tests and the demo, on one TCP port of 127.0.0.1 (as a modem
// behind a modem server) or on a pseudo-terminal that it creates. It prints "PORT <n>" or
// "PTY <path>" on its first line of output and runs until SIGTERM or SIGINT.

#include "AnswerTable.h"
#include "Modem.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

// Output, optionally one byte at a time with a pause, so the computer sees answers split.
class Trickle : public QObject {
public:
    Trickle(int charDelayMs, std::function<void(const QByteArray&)> sink)
        : charDelayMs_(charDelayMs), sink_(std::move(sink)) {
        timer_.setInterval(charDelayMs_);
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (queue_.isEmpty()) {
                timer_.stop();
                return;
            }
            sink_(queue_.left(1));
            queue_.remove(0, 1);
        });
    }
    void write(const QByteArray& bytes) {
        if (charDelayMs_ <= 0)
            return sink_(bytes);
        queue_.append(bytes);
        if (!timer_.isActive())
            timer_.start();
    }
    void clear() {
        queue_.clear();
        timer_.stop();
    }

private:
    int charDelayMs_;
    std::function<void(const QByteArray&)> sink_;
    QByteArray queue_;
    QTimer timer_;
};

// The pseudo-terminal side: the master end is ours, the slave end is the "serial port".
class PtyModem : public QObject {
public:
    PtyModem(Modem& modem, int charDelayMs, const QString& linkPath) : modem_(modem), linkPath_(linkPath) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error(std::string("posix_openpt: ") + std::strerror(errno));
        slavePath_ = QString::fromLocal8Bit(ptsname(master_));
        termios t{};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        // Holding the slave open keeps the master from reporting a hang-up (and waking us without
        // end) each time the program closes the port.
        keepSlave_ = ::open(slavePath_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        if (!linkPath_.isEmpty()) {
            QFile::remove(linkPath_);
            if (::symlink(slavePath_.toLocal8Bit().constData(), linkPath_.toLocal8Bit().constData()) != 0)
                throw std::runtime_error("symlink " + linkPath_.toStdString() + ": " + std::strerror(errno));
        }
        readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
        writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
        writeNotifier_->setEnabled(false);
        connect(readNotifier_, &QSocketNotifier::activated, this, [this] { readMaster(); });
        connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { flush(); });
        trickle_ = new Trickle(charDelayMs, [this](const QByteArray& b) {
            out_.append(b);
            flush();
        });
        trickle_->setParent(this);
        modem_.output = [this](const QByteArray& b) { trickle_->write(b); };
        modem_.dropLink = [this] { vanish(); };
    }
    ~PtyModem() override { shut(); }
    QString slavePath() const { return slavePath_; }

private:
    void readMaster() {
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0)
            modem_.input(QByteArray(buf, n));
    }
    void flush() {
        while (!out_.isEmpty()) {
            const ssize_t n = ::write(master_, out_.constData(), size_t(out_.size()));
            if (n <= 0)
                break;
            out_.remove(0, n);
        }
        writeNotifier_->setEnabled(!out_.isEmpty());
    }
    // The device goes away under the program, as an unplugged adapter does.
    void vanish() {
        std::printf("VANISHED\n");
        std::fflush(stdout);
        shut();
        QCoreApplication::exit(0);
    }
    void shut() {
        if (master_ < 0)
            return;
        delete readNotifier_;
        delete writeNotifier_;
        readNotifier_ = writeNotifier_ = nullptr;
        ::close(keepSlave_);
        ::close(master_);
        master_ = -1;
        if (!linkPath_.isEmpty())
            QFile::remove(linkPath_);
    }

    Modem& modem_;
    QString linkPath_;
    QString slavePath_;
    int master_ = -1;
    int keepSlave_ = -1;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    Trickle* trickle_ = nullptr;
    QByteArray out_;
};

// The TCP side: one client at a time; a new client pushes the previous one out and gets a
// fresh modem.
class TcpModem : public QObject {
public:
    TcpModem(Modem& modem, int charDelayMs, quint16 port) : modem_(modem) {
        if (!server_.listen(QHostAddress::LocalHost, port))
            throw std::runtime_error("listen: " + server_.errorString().toStdString());
        trickle_ = new Trickle(charDelayMs, [this](const QByteArray& b) {
            if (client_)
                client_->write(b);
        });
        trickle_->setParent(this);
        modem_.output = [this](const QByteArray& b) { trickle_->write(b); };
        modem_.dropLink = [this] { drop(); };
        connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
    }
    quint16 port() const { return server_.serverPort(); }

private:
    void accept() {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            drop();
            client_ = s;
            modem_.reset();
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                if (s == client_)
                    modem_.input(s->readAll());
            });
            connect(s, &QTcpSocket::disconnected, this, [this, s] {
                if (s == client_) {
                    client_ = nullptr;
                    trickle_->clear();
                    modem_.reset();
                }
                s->deleteLater();
            });
        }
    }
    void drop() {
        trickle_->clear();
        if (QTcpSocket* s = client_) {
            client_ = nullptr;
            s->abort();
            s->deleteLater();
        }
        modem_.reset();
    }

    Modem& modem_;
    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    Trickle* trickle_ = nullptr;
};
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modem-sim"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "A Hayes modem on 127.0.0.1 or on a pseudo-terminal. Prints \"PORT <n>\" or \"PTY <path>\" first.\n"
        "Table lines: <dialstring> <answer> [delay_ms]; answers SILENT, HANGUP and FLOOD are special;\n"
        "escapes \\r \\n \\t \\0 \\s \\\\ \\xNN may appear in answers; lines starting with \"# \" are "
        "comments."));
    p.addHelpOption();
    const QCommandLineOption ptyOpt(QStringLiteral("pty"),
                                    QStringLiteral("Serve a pseudo-terminal instead of TCP."));
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("TCP port (0: any free one)."),
                                     QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption linkOpt(QStringLiteral("link"), QStringLiteral("Symlink to the pty's slave."),
                                     QStringLiteral("path"));
    const QCommandLineOption tableOpt(QStringLiteral("table"), QStringLiteral("Answer table file."),
                                      QStringLiteral("file"));
    const QCommandLineOption answerOpt(QStringLiteral("answer"),
                                       QStringLiteral("One table line given inline (repeatable)."),
                                       QStringLiteral("line"));
    const QCommandLineOption defaultOpt(QStringLiteral("default"),
                                        QStringLiteral("Answer to numbers not in the table."),
                                        QStringLiteral("answer"), QStringLiteral("NO CARRIER 1000"));
    const QCommandLineOption noEchoOpt(QStringLiteral("no-echo"), QStringLiteral("Start with E0."));
    const QCommandLineOption guardOpt(QStringLiteral("guard"), QStringLiteral("Escape guard time in ms."),
                                      QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption charDelayOpt(QStringLiteral("char-delay"),
                                          QStringLiteral("Send every byte separately, this many ms apart."),
                                          QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption floodOpt(QStringLiteral("flood-bytes"),
                                      QStringLiteral("Size of a FLOOD answer."), QStringLiteral("n"),
                                      QStringLiteral("1000000"));
    const QCommandLineOption gapOpt(QStringLiteral("dialtone-gap"),
                                    QStringLiteral("NO DIALTONE for a dial this soon after a call."),
                                    QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption verboseOpt(QStringLiteral("verbose"), QStringLiteral("The dialogue on stderr."));
    p.addOptions({ptyOpt, portOpt, linkOpt, tableOpt, answerOpt, defaultOpt, noEchoOpt, guardOpt,
                  charDelayOpt, floodOpt, gapOpt, verboseOpt});
    p.process(app);

    AnswerTable table;
    ModemOptions options;
    options.echo = !p.isSet(noEchoOpt);
    options.guardMs = p.value(guardOpt).toInt();
    options.floodBytes = p.value(floodOpt).toInt();
    options.dialtoneGapMs = p.value(gapOpt).toInt();
    options.verboseLog = p.isSet(verboseOpt);
    const int charDelay = p.value(charDelayOpt).toInt();

    if (::pipe(signalPipe) != 0)
        return 1;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

    try {
        table.setDefault(AnswerTable::parseAnswer(p.value(defaultOpt)));
        if (p.isSet(tableOpt))
            table.load(p.value(tableOpt));
        for (const QString& line : p.values(answerOpt)) {
            const QString t = line.trimmed();
            const qsizetype sp = t.indexOf(u' ');
            if (sp < 0)
                throw std::runtime_error("--answer needs a dial string and an answer");
            table.set(t.left(sp), AnswerTable::parseAnswer(t.mid(sp + 1)));
        }
        Modem modem(table, options);
        std::unique_ptr<QObject> transport;
        if (p.isSet(ptyOpt)) {
            auto pty = std::make_unique<PtyModem>(modem, charDelay, p.value(linkOpt));
            std::printf("PTY %s\n", qPrintable(pty->slavePath()));
            transport = std::move(pty);
        } else {
            auto tcp = std::make_unique<TcpModem>(modem, charDelay, quint16(p.value(portOpt).toUInt()));
            std::printf("PORT %u\n", unsigned(tcp->port()));
            transport = std::move(tcp);
        }
        std::fflush(stdout);
        const int rc = app.exec();
        transport.reset();
        return rc;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "modem-sim: %s\n", e.what());
        return 2;
    }
}
