#pragma once
// The link settings file KanvoAlt.ini: six lines, the port and the address, the speed and the
// TCP port, the initialisation string, the modem speed command, the pause, the link flags.

#include <QString>
#include <QStringList>
#include <optional>

// The values of the modem settings controls, as the file stores them.
struct LinkSettings {
    QString port;
    QString address;
    QString speed;
    QString tcpPort;
    QString initString;
    QString modemSpeed;
    QString pause;
    bool serial = true;
    bool tcp = false;
    bool sendInit = false;
};

namespace LinkSettingsFile {
inline constexpr const char* FileName = "KanvoAlt.ini";
enum Flag { SerialFlag = 1, TcpFlag = 2, InitFlag = 4 };

int flags(const LinkSettings& s);
// The six lines the file holds.
QStringList toLines(const LinkSettings& s);

// What a file holds; a value the file does not give stays unset and its control keeps
// its value. A short or damaged file gives what it can: nothing here ever fails.
struct Read {
    std::optional<QString> port;
    std::optional<QString> address;
    std::optional<QString> speed;
    std::optional<QString> tcpPort;
    std::optional<QString> initString;
    std::optional<QString> modemSpeed;
    std::optional<QString> pause;
    std::optional<int> flags; // unset when line 6 is missing or not a whole number
};
Read parse(const QStringList& lines);
} // namespace LinkSettingsFile
