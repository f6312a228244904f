// The display of the communication log: the latest lines only, the open line rewritten in place.

#include "links/CommLog.h"
#include "gui/CommLogView.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

namespace {
QString lastBlock(const QPlainTextEdit& e) {
    return e.document()->lastBlock().text();
}
} // namespace

class TestCommLogView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mirrorsCompletedAndOpenLines() {
        CommLog log;
        QPlainTextEdit edit;
        CommLogView view(log, &edit);
        QCOMPARE(edit.document()->blockCount(), 1);
        log.append("atdt#80012\r");
        QTRY_COMPARE(lastBlock(edit), QStringLiteral("atdt#80012"));
        QCOMPARE(edit.document()->blockCount(), 1);
        log.append("\r\nCONN");
        QTRY_COMPARE(lastBlock(edit), QStringLiteral("CONN"));
        log.append("ECT 2400\r\n");
        QTRY_COMPARE(edit.document()->blockCount(), 3);
        QCOMPARE(edit.toPlainText(), QStringLiteral("atdt#80012\nCONNECT 2400\n"));
        log.append("12345");
        log.append("\b\b\b");
        view.refresh();
        QCOMPARE(edit.toPlainText(), QStringLiteral("atdt#80012\nCONNECT 2400\n12"));
    }

    void keepsOnlyTheLatestLines() {
        CommLog log;
        QPlainTextEdit edit;
        CommLogView view(log, &edit);
        // In steps smaller and larger than the window. More new lines at once than a redraw
        // inserts (a flood): the view starts afresh with the latest of them.
        int n = 0;
        int shown = 1;
        for (int step : {10,  250, 300, 301, 1234, 3000, 290, 290, 290, 290, 290, 290,  290,
                         290, 290, 290, 290, 290,  290,  290, 290, 290, 290, 290, 4999, 1}) {
            QByteArray chunk;
            for (int i = 0; i < step; ++i)
                chunk += "L" + QByteArray::number(n++) + "\r\n";
            log.append(chunk);
            log.append("open" + QByteArray::number(n));
            view.refresh();
            const int open = log.commLineIndex();
            shown = step > CommLogView::kMaxInserted ? CommLogView::kMaxInserted
                                                     : std::min(shown + step, CommLogView::kShownLines);
            QCOMPARE(edit.document()->blockCount(), shown);
            QCOMPARE(lastBlock(edit), QStringLiteral("open%1").arg(n));
            int i = open - shown + 1;
            for (QTextBlock b = edit.document()->firstBlock(); b.isValid(); b = b.next(), ++i)
                QCOMPARE(b.text(), log.line(i));
        }
    }

    void anyDestructionOrderIsSafe() {
        {
            auto log = std::make_unique<CommLog>();
            auto edit = std::make_unique<QPlainTextEdit>();
            CommLogView view(*log, edit.get());
            edit.reset(); // the widget goes first: refreshes do nothing
            log->append("OK\r\n");
            view.refresh();
            log.reset(); // then the log, before the view
        }
        CommLog log;
        {
            QPlainTextEdit edit;
            CommLogView view(log, &edit);
        }
        log.append("after the view\r\n"); // its callback no longer reaches the view
        QCOMPARE(log.commLineIndex(), 1);
    }

    void followsTheEndUnlessScrolledUp() {
        CommLog log;
        QPlainTextEdit edit;
        edit.resize(300, 200);
        edit.show();
        CommLogView view(log, &edit);
        QByteArray chunk;
        for (int i = 0; i < 300; ++i)
            chunk += "line\r\n";
        log.append(chunk);
        view.refresh();
        QScrollBar* bar = edit.verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(10);
        log.append("more\r\n");
        view.refresh();
        QCOMPARE(bar->value(), 10);
    }
};

QTEST_MAIN(TestCommLogView)
#include "test_commlogview.moc"
