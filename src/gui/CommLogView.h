#pragma once
// Mirrors the communication log into the window's text box: the latest lines only, updated
// by appending completed lines and rewriting the open one, at most every few milliseconds.

#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

class CommLog;

class CommLogView : public QObject {
    Q_OBJECT
public:
    static constexpr int kShownLines = 5000;
    static constexpr int kMaxInserted = 300; // more new lines than this: the view starts afresh with them
    static constexpr int kRefreshMs = 50;     // appends are gathered at least this long before a redraw

    // Takes the log's appended callback. The log must be alive whenever the view refreshes;
    // destroying the log, the view and the widget in any order is safe.
    CommLogView(CommLog& log, QPlainTextEdit* edit, QObject* parent = nullptr);
    ~CommLogView() override;

    // Brings the widget up to date now.
    void refresh();

private:
    void update();
    void schedule();
    void rebuild(int count); // shows the latest `count` lines of the log afresh

    CommLog& log_;
    QPointer<QPlainTextEdit> edit_;
    QTimer timer_;
    int shownOpen_ = -1; // log index that the widget's last block shows; -1: nothing shown
    QString shownOpenText_;
};
