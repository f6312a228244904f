#pragma once
// The link settings file KanvoAlt.ini: six lines, the port and the address, the speed and the
// TCP port, the initialisation string, the modem speed command, the pause, the link flags; a
// seventh, "COUNT^MINUTES^", only when the failed channels are tested again.

#include <QString>
#include <QStringList>
#include <optional>

// What carries the modems: nothing chosen, a local serial port, or TCP to a modem server.
enum class LinkKind { None, Serial, Tcp };

// The values of the modem settings controls, as the file stores them.
struct LinkSettings {
    QString port;
    QString address;
    QString speed;
    QString tcpPort;
    QString initString;
    QString modemSpeed;
    QString pause;
    LinkKind kind = LinkKind::Serial;
    bool sendInit = false;
    // The channels whose every answer failed are dialled again up to this many times (0: not),
    // each no sooner than this many minutes after its last failure.
    int retestCount = 0;
    int retestMinutes = 20;
};

namespace LinkSettingsFile {
inline constexpr const char* FileName = "KanvoAlt.ini";
enum Flag { SerialFlag = 1, TcpFlag = 2, InitFlag = 4 };
inline constexpr int kMaxRetests = 3;
inline constexpr int kMaxRetestMinutes = 120;

int flags(const LinkSettings& s);
// The link the flags of line 6 choose: TCP when both link bits are set.
LinkKind kindOf(int flags);
// The six lines the file holds, and the seventh when the retests are on.
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
    // Unset when line 7 is missing or a value is not a whole number in its range.
    std::optional<int> retestCount;
    std::optional<int> retestMinutes;
};
Read parse(const QStringList& lines);

// The speeds offered, in order; the first is the one chosen before any file is read.
const QStringList& speeds();
// The settings before any file is read: the first of the system's `ports` (none: no port), the
// first speed, a pause of 20 seconds, the serial link, the modem strings not sent.
LinkSettings defaults(const QStringList& ports);
// The settings `base` takes from a file: a saved port or speed chooses the entry of `ports` or
// speeds() equal to it, letter case ignored (none: no choice), a saved port that the system does
// not list is kept when it may be a device; the flags choose the link, TCP when both are set.
LinkSettings apply(LinkSettings base, const Read& file, const QStringList& ports);
// The settings of the file at `path` over the defaults; no file gives the defaults. Raises
// FileError when the file is there but cannot be read.
LinkSettings load(const QString& path, const QStringList& ports);
} // namespace LinkSettingsFile
