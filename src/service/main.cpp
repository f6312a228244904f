// chantest-service: runs the tasks of one working folder without a window, as the window would,
// for a station left unattended (a systemd service, or a terminal).
#include "EventLog.h"
#include "Service.h"
#include "config/LinkSettings.h"
#include "config/SerialPorts.h"
#include "engine/Station.h"
#include "core/Clock.h"
#include "core/DataDirs.h"
#include "web/WebService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {
constexpr int kCannotRun = 1;
constexpr int kUsageError = 2;

int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

// The first signal is handed to the event loop; a second one ends the program at once (what
// was recorded is in the journal, merged at the next start).
void onSignal(int sig) {
    if (signalled)
        ::_exit(128 + sig);
    signalled = sig;
    const char c = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

bool catchSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &sa, nullptr) == 0 && ::sigaction(SIGINT, &sa, nullptr) == 0;
}

QString helpText() {
    return QStringLiteral(
        "Употреба: chantest-service [--folder ПАПКА] [--listen АДРЕС:ПОРТ --users ФАЙЛ ...]\n"
        "Изпълнява задачите на работна папка без прозорец, както прозорецът на chantest:\n"
        "по времето им, задачите „Веднага“ веднага, резултатите в месечните файлове.\n"
        "\n"
        "  --folder ПАПКА         работната папка (по подразбиране текущата)\n"
        "  --listen АДРЕС:ПОРТ    уеб страницата, API и /metrics на този адрес (може няколко\n"
        "                         пъти), например 127.0.0.1:8470; без него не се слуша нищо\n"
        "  --users ФАЙЛ           потребителите: по ред име:хеш:роля, хешът от mkpasswd\n"
        "                         (yescrypt или bcrypt), ролята viewer или operator\n"
        "  --tls-cert ФАЙЛ        TLS: сертификатът (PEM), заедно с --tls-key ФАЙЛ (ключът)\n"
        "  --metrics-login        и /metrics иска вход (Basic с потребител от --users)\n"
        "  --trust-proxy          обратен прокси на същата машина (nginx) казва адреса на\n"
        "                         клиента в X-Real-IP и дали е HTTPS в X-Forwarded-Proto\n"
        "  -h, --help             тази помощ\n"
        "  -V, --version          версията\n"
        "\n"
        "SIGTERM или SIGINT: модемите затварят линиите, записаните тестове остават в месечния\n"
        "файл, задачата остава „Стартирана“ и при следващото стартиране продължава с каналите,\n"
        "които не е тествала; услугата спира с код 0.\n"
        "Изходни кодове: 0 спряна със сигнал, 1 папката не може да се ползва или задачите ѝ\n"
        "изпълнява друга програма, 2 грешка в аргументите.\n");
}
} // namespace

int main(int argc, char* argv[]) {
    // A write over the file size limit fails with the file layer's error (the tests stay in the
    // journal) instead of the signal ending the service; a closed output loses only log lines.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    const bool signalsCaught = catchSignals();
    QCoreApplication app(argc, argv);
    SystemClock clock;
    EventLog log(STDOUT_FILENO, EventLog::stdoutIsJournal(), clock);

    QCommandLineParser p;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")}, {});
    const QCommandLineOption folderOption(QStringLiteral("folder"), {}, QStringLiteral("DIR"));
    const QCommandLineOption listenOption(QStringLiteral("listen"), {}, QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption usersOption(QStringLiteral("users"), {}, QStringLiteral("FILE"));
    const QCommandLineOption certOption(QStringLiteral("tls-cert"), {}, QStringLiteral("FILE"));
    const QCommandLineOption keyOption(QStringLiteral("tls-key"), {}, QStringLiteral("FILE"));
    const QCommandLineOption metricsLoginOption(QStringLiteral("metrics-login"));
    const QCommandLineOption trustProxyOption(QStringLiteral("trust-proxy"));
    p.addOptions({help, version, folderOption, listenOption, usersOption, certOption, keyOption, metricsLoginOption,
                  trustProxyOption});
    if (!p.parse(app.arguments()) || !p.positionalArguments().isEmpty()) {
        QString error;
        if (!p.unknownOptionNames().isEmpty()) {
            const QString u = p.unknownOptionNames().constFirst();
            error =
                QStringLiteral("Непозната опция: %1%2.").arg(QLatin1String(u.size() == 1 ? "-" : "--"), u);
        } else if (!p.positionalArguments().isEmpty()) {
            error = QStringLiteral("Неочакван аргумент: %1.").arg(p.positionalArguments().constFirst());
        } else if (p.errorText().startsWith(QLatin1String("Missing value"))) {
            // "Missing value after '--folder'."
            const QString named = p.errorText().section(u'\'', 1, 1);
            error = QStringLiteral("Опцията %1 изисква стойност.").arg(named.isEmpty() ? QStringLiteral("--folder") : named);
        } else {
            error = QStringLiteral("Грешка в аргументите: %1").arg(p.errorText());
        }
        log.line(error + QStringLiteral(" Вижте chantest-service --help."), EventLog::Level::Error);
        return kUsageError;
    }
    if (p.isSet(help)) {
        const QByteArray text = helpText().toUtf8();
        return ::write(STDOUT_FILENO, text.constData(), size_t(text.size())) < 0 ? kCannotRun : 0;
    }
    if (p.isSet(version)) {
        const QByteArray text = QByteArrayLiteral("chantest-service " CHANTEST_VERSION "\n");
        return ::write(STDOUT_FILENO, text.constData(), size_t(text.size())) < 0 ? kCannotRun : 0;
    }
    web::WebOptions webOptions;
    for (const QString& l : p.values(listenOption)) {
        web::WebOptions::Address a;
        QString error;
        if (!web::ParseListen(l, a, error)) {
            log.line(error, EventLog::Level::Error);
            return kUsageError;
        }
        webOptions.listen.append(a);
    }
    webOptions.usersFile = p.value(usersOption);
    webOptions.tlsCert = p.value(certOption);
    webOptions.tlsKey = p.value(keyOption);
    webOptions.metricsLogin = p.isSet(metricsLoginOption);
    webOptions.trustProxy = p.isSet(trustProxyOption);
    {
        QString error;
        if (webOptions.listen.isEmpty() &&
            (p.isSet(usersOption) || p.isSet(certOption) || p.isSet(keyOption) || webOptions.metricsLogin ||
             webOptions.trustProxy))
            error = QStringLiteral("--users, --tls-cert, --tls-key, --metrics-login и --trust-proxy се дават с --listen.");
        else if (!webOptions.listen.isEmpty() && webOptions.usersFile.isEmpty())
            error = QStringLiteral("--listen иска и --users ФАЙЛ: страницата и API са само за потребителите от него.");
        else if (p.isSet(certOption) != p.isSet(keyOption))
            error = QStringLiteral("--tls-cert и --tls-key се дават заедно.");
        if (!error.isEmpty()) {
            log.line(error + QStringLiteral(" Вижте chantest-service --help."), EventLog::Level::Error);
            return kUsageError;
        }
    }
    if (!signalsCaught) {
        log.line(QStringLiteral("Сигналите за спиране не могат да се прихванат."), EventLog::Level::Error);
        return kCannotRun;
    }
    const QString folder = p.isSet(folderOption) ? p.value(folderOption) : QDir::currentPath();
    if (!QDir::setCurrent(folder)) {
        log.line(QStringLiteral("Работната папка %1 не съществува или не може да се отвори.").arg(folder),
                 EventLog::Level::Error);
        return kCannotRun;
    }
    // The window's rule: beside the executable for a copy run from its own folder, in the
    // working folder for an installed one.
    const QString results = MakeDataDir(QCoreApplication::applicationDirPath(), QStringLiteral("Results"));
    QDir().mkpath(results);

    const Workspace workspace{QDir::currentPath(), results, {}};
    Station station(workspace, clock);
    switch (station.takeFolder(FolderLock::Holder::Service)) {
    case FolderLock::Outcome::Taken:
        break;
    case FolderLock::Outcome::HeldByOther: {
        const FolderLock& lock = station.folderLock();
        log.line(
            (lock.holder() == FolderLock::Holder::Service
                 ? QStringLiteral(
                       "Задачите в папка %1 вече се изпълняват от друга услуга chantest (процес %2).")
                 : QStringLiteral("Задачите в папка %1 се изпълняват от прозореца на програмата (процес %2). "
                                  "Затворете прозореца и стартирайте услугата отново."))
                    .arg(QDir::currentPath())
                    .arg(lock.holderPid()) +
                QStringLiteral(" Услугата не стартира."),
            EventLog::Level::Error);
        return kCannotRun;
    }
    case FolderLock::Outcome::Unavailable:
        log.line(
            QStringLiteral("Заключващият файл %1 в папка %2 не може да се отвори: %3. Услугата не стартира.")
                .arg(QString::fromLatin1(FolderLock::kFileName), QDir::currentPath(),
                     station.folderLock().error()),
            EventLog::Level::Error);
        return kCannotRun;
    }

    Service service(station, clock, log,
                    [&workspace, &log] { return Service::fileSettings(workspace, SerialPorts::systemPorts(), log); });
    web::WebService webFace(station, clock, [&log](const QString& text, bool error) {
        log.line(text, error ? EventLog::Level::Error : EventLog::Level::Info);
    });
    if (!webOptions.listen.isEmpty()) {
        QString error;
        if (!webFace.start(webOptions, QDir::currentPath(), results, error)) {
            log.line(error + QStringLiteral(" Услугата не стартира."), EventLog::Level::Error);
            return kCannotRun;
        }
        const QList<quint16> ports = webFace.ports();
        for (qsizetype i = 0; i < webOptions.listen.size(); ++i) {
            const web::WebOptions::Address& a = webOptions.listen[i];
            const QString where = QStringLiteral("%1://%2:%3/")
                                      .arg(webOptions.tlsCert.isEmpty() ? QStringLiteral("http") : QStringLiteral("https"),
                                           a.host.protocol() == QAbstractSocket::IPv6Protocol
                                               ? u'[' + a.host.toString() + u']'
                                               : a.host.toString())
                                      .arg(ports.value(i));
            log.line(QStringLiteral("Уеб страницата е на %1, метриките на %2metrics.").arg(where, where));
            if (!a.host.isLoopback() && webOptions.tlsCert.isEmpty())
                log.line(QStringLiteral("%1 се слуша без TLS: паролите и сесиите минават открито. Дайте "
                                        "--tls-cert и --tls-key или сложете nginx с HTTPS пред услугата.")
                             .arg(where),
                         EventLog::Level::Warning);
        }
    }
    uint64_t watchdogUs = 0;
    service.setWatchdog(sd_watchdog_enabled(0, &watchdogUs) > 0);
    QSocketNotifier signals(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signals, &QSocketNotifier::activated, &service, [&] {
        char c = 0;
        if (::read(signalPipe[0], &c, 1) != 1)
            return;
        webFace.stop(); // no more changes from the web while the run winds up
        service.terminate(c == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
    });
    QObject::connect(
        &service, &Service::finished, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

    log.line(QStringLiteral("chantest-service %1: папка %2, резултати %3, процес %4.")
                 .arg(QStringLiteral(CHANTEST_VERSION), QDir::currentPath(), QDir(results).absolutePath())
                 .arg(QCoreApplication::applicationPid()));
    service.start();
    sd_notify(0, "READY=1");
    return app.exec();
}
