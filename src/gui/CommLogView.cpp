#include "CommLogView.h"

#include "links/CommLog.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

CommLogView::CommLogView(CommLog& log, QPlainTextEdit* edit, QObject* parent)
    : QObject(parent), log_(log), edit_(edit) {
    edit_->setMaximumBlockCount(kShownLines);
    edit_->setUndoRedoEnabled(false); // no undo history growing with every received byte
    timer_.setSingleShot(true);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &CommLogView::refresh);
    // Through a guarded pointer, so that the log and the view may be destroyed in either order.
    log_.setAppendedCallback([view = QPointer<CommLogView>(this)] {
        if (view)
            view->schedule();
    });
    rebuild(kShownLines);
}

CommLogView::~CommLogView() = default;

void CommLogView::schedule() {
    if (!timer_.isActive())
        timer_.start();
}

void CommLogView::rebuild(int count) {
    if (!edit_)
        return;
    const int open = log_.commLineIndex();
    const int from = std::max(log_.firstKeptIndex(), open - count + 1);
    QStringList lines;
    lines.reserve(open - from + 1);
    for (int i = from; i <= open; ++i)
        lines.append(log_.line(i));
    edit_->setPlainText(lines.join(QLatin1Char('\n')));
    shownOpen_ = open;
    shownOpenText_ = lines.constLast();
    edit_->verticalScrollBar()->setValue(edit_->verticalScrollBar()->maximum());
}

void CommLogView::refresh() {
    timer_.stop();
    QElapsedTimer cost;
    cost.start();
    update();
    // Under a flood the redraws get rarer, so that they never take more than a fifth of the time.
    timer_.setInterval(int(std::clamp<qint64>(cost.elapsed() * 4, kRefreshMs, 1000)));
}

void CommLogView::update() {
    if (!edit_)
        return;
    const int open = log_.commLineIndex();
    if (open - shownOpen_ > kMaxInserted) {
        // A flood: only its latest lines are shown, so that no redraw holds the window's thread
        // for long; the log itself keeps far more.
        rebuild(kMaxInserted);
        return;
    }
    QScrollBar* bar = edit_->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();

    QString text;
    if (open == shownOpen_) {
        text = log_.line(open);
        if (text == shownOpenText_)
            return;
    } else {
        // The shown open line got completed: its final text, then the new lines up to the open one.
        QStringList lines;
        lines.reserve(open - shownOpen_ + 1);
        for (int i = shownOpen_; i <= open; ++i)
            lines.append(log_.line(i));
        text = lines.join(QLatin1Char('\n'));
    }
    QTextDocument* doc = edit_->document();
    QTextCursor c(doc);
    c.beginEditBlock();
    // Drop the lines that would scroll out in one cut: far cheaper than letting the block
    // limit remove them one by one.
    const int excess = doc->blockCount() + (open - shownOpen_) - kShownLines;
    if (excess > 0) {
        c.setPosition(doc->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
        c.removeSelectedText();
    }
    c.movePosition(QTextCursor::End);
    c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    c.insertText(text);
    c.endEditBlock();
    shownOpen_ = open;
    shownOpenText_ = log_.line(open);
    if (atBottom)
        bar->setValue(bar->maximum());
}
