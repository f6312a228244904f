// Fuzzing of the task file readers: the header line, the status rewrite and the channel lines.
#include "FuzzEntries.h"
#include "FuzzUtil.h"

#include "engine/TestCycle.h"
#include "results/MonthView.h"
#include "core/AppError.h"
#include "core/MyUtils.h"
#include "core/TextFile.h"
#include "tasks/TaskFile.h"
#include "tasks/StatusButton.h"

#include <QFile>
#include <QTemporaryDir>

namespace fuzz {

namespace {
const QString& scratchFile() {
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("fuzz.tsk"));
    return path;
}
} // namespace

void taskFile(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t pick = in.byte();
    const QByteArrayView bytes = in.rest();
    const QStringList lines = TextFile::splitLines(bytes);

    // The task table's row.
    const TaskFile::Header h = TaskFile::parseHeader(lines.value(0));
    for (const QString* f : {&h.name, &h.type, &h.hour, &h.minute, &h.status})
        FUZZ_CHECK(!f->contains(u'^'), "a header field holds a caret");
    const QString start = h.startText();
    FUZZ_CHECK(start.startsWith(PadTo2(h.hour) + u':') && start.endsWith(PadTo2(h.minute)),
               "startText " + show(start));
    const QString caption = StatusButton::captionFor(h.status, QStringLiteral("?"));
    StatusButton::clickAction(caption, pick & 1);
    StatusButton::clickAction(h.status, pick & 2);

    // A header rebuilt from what was read reads back the same.
    int hour = 0, minute = 0;
    if (TryStrToInt(h.hour, hour) && TryStrToInt(h.minute, minute)) {
        const TaskFile::Header again =
            TaskFile::parseHeader(TaskFile::buildHeader(h.name, h.type, hour, minute, h.status));
        QString name = h.name;
        name.remove(u'\r');
        FUZZ_CHECK(again.name == name && again.type == h.type && again.status == h.status &&
                       again.hour == QString::number(hour) && again.minute == QString::number(minute),
                   "buildHeader and parseHeader differ on " + show(lines.value(0)));
    }

    // What a run dials and how the results page labels each channel line.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString dial = TestCycle::dialString(lines[i]);
        FUZZ_CHECK(dial.size() <= lines[i].size() && lines[i].endsWith(dial), "dialString " + show(lines[i]));
        const QString label = results::ChannelLabel(lines[i]);
        FUZZ_CHECK(lines[i].startsWith(label), "ChannelLabel is not the start of the line");
    }

    // The status button's rewrite: only field 4 of the header changes, every other line stays.
    if (pick & 4) {
        QFile f(scratchFile());
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                       f.write(bytes.data(), bytes.size()) == bytes.size(),
                   "cannot write the scratch task file");
        f.close();
        const QString status = (pick & 8) ? text(TaskStatus::Disabled) : text(TaskStatus::Waiting);
        try {
            SetTaskFileStatus(scratchFile(), status);
        } catch (const AppError&) {
            FUZZ_CHECK(lines.isEmpty(), "SetTaskFileStatus failed on a file with a header");
            return;
        }
        const QStringList after = TextFile::readLines(scratchFile());
        FUZZ_CHECK(after.size() == lines.size() && after.mid(1) == lines.mid(1),
                   "SetTaskFileStatus changed other lines");
        FUZZ_CHECK(after[0].endsWith(u'^' + status + u'^'),
                   "SetTaskFileStatus did not close the header with the status");
        // A header with its first four fields complete keeps them; a shorter one takes the status earlier.
        if (lines[0].count(u'^') >= 3) {
            const TaskFile::Header n = TaskFile::parseHeader(after[0]);
            FUZZ_CHECK(n.status == status && n.name == h.name && n.type == h.type && n.hour == h.hour &&
                           n.minute == h.minute,
                       "SetTaskFileStatus changed the header " + show(lines[0]));
        }
    }
}

} // namespace fuzz
