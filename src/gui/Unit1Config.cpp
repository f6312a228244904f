// The channel configuration handlers of the window: channel base grid, link settings, port
// list and the import of an external channel list.
#include "gui/Unit1.h"

#include "config/ChannelBase.h"
#include "gui/ConfigEditors.h"
#include "config/KanvoFile.h"
#include "config/LinkSettings.h"
#include "config/SerialPorts.h"
#include "gui/Dialogs.h"
#include "gui/RadioGroup.h"
#include "gui/StringGrid.h"
#include "core/TextFile.h"

#include <QSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>

namespace {
// Holds the grid's signals back for a bulk change, also when the change fails half-way.
class GridBatch {
public:
    explicit GridBatch(StringGrid* g) : g_(g) { g_->beginUpdate(); }
    ~GridBatch() { g_->endUpdate(); }
    GridBatch(const GridBatch&) = delete;
    GridBatch& operator=(const GridBatch&) = delete;

private:
    StringGrid* g_;
};

void writeChannelRow(StringGrid* g, int row, const ChannelRecord& r) {
    g->setCell(0, row, QString::number(row));
    g->setCell(1, row, r.direction);
    g->setCell(2, row, r.exchange);
    g->setCell(3, row, r.channel);
    g->setCell(4, row, r.dial);
}

void clearRows(StringGrid* g, int from) { g->gridModel()->clearRows(from, g->rowCount()); }

// Selects the first entry that is exactly `text`, adding it at the end when it is not listed;
// an empty text selects nothing.
void selectOrAdd(QComboBox* box, const QString& text) {
    if (!text.isEmpty() && box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0)
        box->addItem(text);
    box->setCurrentIndex(text.isEmpty() ? -1 : box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive));
}

// Bit 0 chooses the serial link, bit 1 the TCP link (TCP wins when both are set); with
// neither set no link is chosen, which exclusive radio buttons would not allow on their own.
void setLinkChoice(QRadioButton* com, QRadioButton* tcp, LinkKind kind) {
    com->setAutoExclusive(false);
    tcp->setAutoExclusive(false);
    com->setChecked(kind == LinkKind::Serial);
    tcp->setChecked(kind == LinkKind::Tcp);
    com->setAutoExclusive(true);
    tcp->setAutoExclusive(true);
}
} // namespace

void TForm1::SetupConfigControls() {
    SGsetings->gridModel()->setEditable(true);
    SGsetings->setItemDelegate(new FieldCellDelegate(SGsetings));
    // The editor opens as soon as a cell becomes current, as in a grid that always shows it.
    SGsetings->setEditTriggers(QAbstractItemView::AllEditTriggers);
    SGsetings->setSelectionMode(QAbstractItemView::ContiguousSelection);
    for (QLineEdit* e : {EipAdr, EtcpPort})
        e->setValidator(new DropCharsValidator(fieldForbiddenChars(), e));
    // Whole lines of the settings file: a caret is a real character of modem commands.
    for (QLineEdit* e : {Epause, EinitString, EmodemSpeed})
        e->setValidator(new DropCharsValidator(lineForbiddenChars(), e));
}

void TForm1::LoadPortList() {
    const QStringList ports = SerialPorts::systemPorts();
    for (const QString& p : ports)
        CBPort->addItem(p);
}

LinkSettings TForm1::ShownLinkSettings() const {
    LinkSettings s;
    s.port = CBPort->currentText();
    s.address = EipAdr->text();
    s.speed = CBSpeed->currentText();
    s.tcpPort = EtcpPort->text();
    s.initString = EinitString->text();
    s.modemSpeed = EmodemSpeed->text();
    s.pause = Epause->text();
    // The serial link wins when both were checked.
    s.kind = RBcom->isChecked() ? LinkKind::Serial : RBtcp->isChecked() ? LinkKind::Tcp : LinkKind::None;
    s.sendInit = CBoxIniString->isChecked();
    s.retestCount = SEretestCount->value();
    s.retestMinutes = SEretestDelay->value();
    return s;
}

void TForm1::ReadLinkSettings() {
    if (CBPort->count() > 0)
        CBPort->setCurrentIndex(0);
    const QString file = QString::fromLatin1(LinkSettingsFile::FileName);
    if (!QFileInfo::exists(file))
        return;
    QStringList ports;
    for (int i = 0; i < CBPort->count(); ++i)
        ports.append(CBPort->itemText(i));
    // What the file does not give keeps the value of its control.
    const LinkSettings s =
        LinkSettingsFile::apply(ShownLinkSettings(), LinkSettingsFile::parse(TextFile::readLines(file)), ports);
    selectOrAdd(CBPort, s.port); // a saved port outside the list is offered at its end
    selectOrAdd(CBSpeed, s.speed);
    EipAdr->setText(s.address);
    EtcpPort->setText(s.tcpPort);
    EinitString->setText(s.initString);
    EmodemSpeed->setText(s.modemSpeed);
    Epause->setText(s.pause);
    setLinkChoice(RBcom, RBtcp, s.kind);
    CBoxIniString->setChecked(s.sendInit);
    SEretestCount->setValue(s.retestCount);
    SEretestDelay->setValue(s.retestMinutes);
}

void TForm1::WriteLinkSettings() {
    TextFile::writeLines(QString::fromLatin1(LinkSettingsFile::FileName),
                         LinkSettingsFile::toLines(ShownLinkSettings()));
}

void TForm1::BopenSetClick() {
    StringGrid* g = SGsetings;
    GridBatch batch(g);
    const QString file = QString::fromLatin1(ChannelBase::FileName);
    QVector<ChannelRecord> records;
    if (QFileInfo::exists(file)) {
        try {
            records = ChannelBase::readRecords(file);
        } catch (...) {
            clearRows(g, 1); // a failed read leaves the grid empty
            throw;
        }
    }
    // The loaded records overwrite their rows; only the rows below them need clearing.
    if (!records.isEmpty())
        g->setRowCount(static_cast<int>(records.size()) + 101);
    for (int i = 0; i < records.size(); ++i)
        writeChannelRow(g, i + 1, records[i]);
    clearRows(g, static_cast<int>(records.size()) + 1);
}

void TForm1::BsaveSetClick() {
    StringGrid* g = SGsetings;
    QStringList lines;
    lines.reserve(g->rowCount());
    for (int r = 1; r < g->rowCount(); ++r) {
        ChannelRecord rec{g->cell(1, r), g->cell(2, r), g->cell(3, r), g->cell(4, r)};
        if (rec.direction.isEmpty())
            continue;
        lines.append(ChannelBase::formatLine(rec));
    }
    ChannelBase::sortLines(lines);
    TextFile::writeLines(QString::fromLatin1(ChannelBase::FileName), lines);
    WriteLinkSettings();
    BopenSetClick();
}

void TForm1::BimportClick() {
    // The dialog leaves the working directory alone: the data files stay where they were.
    const QString path =
        Dialogs::instance().openFileName(this, QString(), QStringLiteral("Kanvo DAT files (*.dat)"));
    if (path.isEmpty())
        return;
    // The whole file is checked before anything in the grid changes.
    const QVector<KanvoRecord> records = KanvoFile::read(path);
    StringGrid* g = SGsetings;
    int row = 1;
    if (RGaction->itemIndex() == 0) { // "Добави": after the saved channels
        BopenSetClick();
        row = g->rowCount();
        for (int r = 1; r < g->rowCount(); ++r) {
            if (g->cell(1, r).isEmpty()) {
                row = r;
                break;
            }
        }
    }
    const QString prefix = RGprefix->itemText(RGprefix->itemIndex());
    GridBatch batch(g);
    const int rowsBefore = g->rowCount();
    g->setRowCount(std::max(rowsBefore, row + static_cast<int>(records.size()) + 1));
    int imported = 0;
    for (const KanvoRecord& k : records) {
        const ChannelRecord rec = KanvoFile::toChannel(k, prefix);
        if (rec.direction.isEmpty())
            continue;
        writeChannelRow(g, row + imported, rec);
        ++imported;
    }
    // The last imported row and 100 empty ones; rows below it within that count keep their text.
    g->setRowCount(imported > 0 ? row + imported + 100 : rowsBefore);
}
