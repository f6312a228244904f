// modem-sim: a Hayes modem for tests and the demo, on one TCP port of 127.0.0.1 (as a modem
// behind a modem server) or on a pseudo-terminal that it creates; or a bank of modems on
// consecutive ports, as a terminal server publishes them. It prints "PORT <n>" (one line a
// modem) or "PTY <path>" first and runs until SIGTERM or SIGINT.

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
#include <map>
#include <memory>
#include <netinet/in.h>
#include <vector>
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

// How a modem of a bank misbehaves.
enum class Fault { None, Silent, Refuse, CloseAfterAnswer };

// The TCP side: one client at a time; a new client pushes the previous one out and gets a
// fresh modem.
class TcpModem : public QObject {
public:
    // Throws when the port cannot be had.
    TcpModem(Modem& modem, int charDelayMs, quint16 port, Fault fault = Fault::None)
        : modem_(modem), fault_(fault) {
        if (fault == Fault::Refuse) {
            // Bound but not listening: the port stays ours and every connection is refused.
            refuser_ = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(port);
            socklen_t len = sizeof a;
            if (refuser_ < 0 || ::bind(refuser_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
                ::getsockname(refuser_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
                if (refuser_ >= 0)
                    ::close(refuser_);
                throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
            }
            refusedPort_ = ntohs(a.sin_port);
            return;
        }
        if (!server_.listen(QHostAddress::LocalHost, port))
            throw std::runtime_error("listen: " + server_.errorString().toStdString());
        trickle_ = new Trickle(charDelayMs, [this](const QByteArray& b) {
            if (client_)
                client_->write(b);
        });
        trickle_->setParent(this);
        modem_.output = [this](const QByteArray& b) { trickle_->write(b); };
        modem_.dropLink = [this] { drop(); };
        if (fault == Fault::CloseAfterAnswer)
            modem_.answered = [this] {
                // Once the answer is on its way, as a port that closes after a call.
                QTimer::singleShot(0, this, [this] {
                    if (QTcpSocket* s = client_) {
                        s->flush();
                        s->disconnectFromHost();
                    }
                });
            };
        connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
    }
    ~TcpModem() override {
        if (refuser_ >= 0)
            ::close(refuser_);
    }
    quint16 port() const { return refuser_ >= 0 ? refusedPort_ : server_.serverPort(); }

private:
    void accept() {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            drop();
            client_ = s;
            modem_.reset();
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                const QByteArray bytes = s->readAll();
                if (s == client_ && fault_ != Fault::Silent)
                    modem_.input(bytes);
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
    Fault fault_;
    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    Trickle* trickle_ = nullptr;
    int refuser_ = -1;
    quint16 refusedPort_ = 0;
};

// A bank of modems on consecutive ports from `first` (0: the first free run of `count` ports).
struct Bank {
    std::vector<std::unique_ptr<Modem>> modems;
    std::vector<std::unique_ptr<TcpModem>> ports;

    Bank(const AnswerTable& table, const ModemOptions& options, int charDelayMs, quint16 first, int count,
         const std::map<int, Fault>& faults) {
        for (int attempt = 0;; ++attempt) {
            try {
                open(table, options, charDelayMs, first, count, faults);
                return;
            } catch (const std::exception&) {
                if (first != 0 || attempt == 50)
                    throw;
            }
        }
    }

private:
    void open(const AnswerTable& table, const ModemOptions& options, int charDelayMs, quint16 first, int count,
              const std::map<int, Fault>& faults) {
        ports.clear();
        modems.clear();
        for (int i = 0; i < count; ++i) {
            modems.push_back(std::make_unique<Modem>(table, options));
            const auto f = faults.find(i + 1);
            const quint16 want = i == 0 ? first : quint16(ports[0]->port() + i);
            if (i > 0 && ports[0]->port() + i > 65535)
                throw std::runtime_error("no room for the bank");
            ports.push_back(std::make_unique<TcpModem>(*modems.back(), charDelayMs, want,
                                                       f == faults.end() ? Fault::None : f->second));
        }
    }
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
    const QCommandLineOption modemsOpt(QStringLiteral("modems"),
                                       QStringLiteral("A bank of n modems on consecutive ports, from --port."),
                                       QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption silentOpt(QStringLiteral("silent-modem"),
                                       QStringLiteral("Modem k of the bank (from 1) accepts and never answers."),
                                       QStringLiteral("k"));
    const QCommandLineOption refuseOpt(QStringLiteral("refusing-modem"),
                                       QStringLiteral("Modem k of the bank refuses connections."),
                                       QStringLiteral("k"));
    const QCommandLineOption closingOpt(QStringLiteral("closing-modem"),
                                        QStringLiteral("Modem k of the bank closes the connection after its "
                                                       "first answer."),
                                        QStringLiteral("k"));
    p.addOptions({ptyOpt, portOpt, linkOpt, tableOpt, answerOpt, defaultOpt, noEchoOpt, guardOpt,
                  charDelayOpt, floodOpt, gapOpt, verboseOpt, modemsOpt, silentOpt, refuseOpt, closingOpt});
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
        const int count = p.value(modemsOpt).toInt();
        if (count < 1 || count > 1000)
            throw std::runtime_error("--modems needs a number from 1 to 1000");
        std::map<int, Fault> faults;
        for (const auto& [opt, fault] : {std::pair{&silentOpt, Fault::Silent}, std::pair{&refuseOpt, Fault::Refuse},
                                         std::pair{&closingOpt, Fault::CloseAfterAnswer}})
            for (const QString& k : p.values(*opt))
                faults[k.toInt()] = fault;
        if (p.isSet(ptyOpt)) {
            Modem modem(table, options);
            PtyModem pty(modem, charDelay, p.value(linkOpt));
            std::printf("PTY %s\n", qPrintable(pty.slavePath()));
            std::fflush(stdout);
            return app.exec();
        }
        Bank bank(table, options, charDelay, quint16(p.value(portOpt).toUInt()), count, faults);
        for (const std::unique_ptr<TcpModem>& port : bank.ports)
            std::printf("PORT %u\n", unsigned(port->port()));
        std::fflush(stdout);
        return app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "modem-sim: %s\n", e.what());
        return 2;
    }
}
