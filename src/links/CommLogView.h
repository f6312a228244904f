#pragma once
// Mirrors the communication log into the window's text box: the latest lines only, updated
// by appending completed lines and rewriting the open one, at most every few milliseconds.

#include <QObject>
#include <QTimer>

class CommLog;
class QPlainTextEdit;

class CommLogView : public QObject {
    Q_OBJECT
public:
    static constexpr int kShownLines = 5000;
    static constexpr int kRefreshMs = 50; // appends are gathered at least this long before a redraw

    // Takes the log's appended callback; the view must not outlive the log or the widget.
    CommLogView(CommLog& log, QPlainTextEdit* edit, QObject* parent = nullptr);
    ~CommLogView() override;

    // Brings the widget up to date now.
    void refresh();

private:
    void update();
    void schedule();
    void rebuild();

    CommLog& log_;
    QPlainTextEdit* edit_;
    QTimer timer_;
    int shownOpen_ = -1; // log index that the widget's last block shows; -1: nothing shown
    QString shownOpenText_;
};
