#pragma once
// Dialogs for tests: records every message box and answers from a queue (OK, or No for a
// Yes/No box, when the queue is empty); file dialogs return queued names (empty: cancel).

#include "gui/Dialogs.h"

#include <QList>
#include <QStringList>

class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        MsgKind kind;
        QString text;
        bool yesNo;
    };

    ScriptedDialogs() { Dialogs::setInstance(this); }
    ~ScriptedDialogs() override { Dialogs::setInstance(nullptr); }

    void setNextAnswer(MsgAnswer a) { answers.append(a); }
    void setNextFileName(const QString& name) { fileNames.append(name); }

    MsgAnswer message(QWidget*, MsgKind kind, const QString& text, bool yesNo) override {
        shown.append({kind, text, yesNo});
        if (!answers.isEmpty())
            return answers.takeFirst();
        return yesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    QString openFileName(QWidget*, const QString& dir, const QString& filter) override {
        lastDir = dir;
        lastFilter = filter;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    QString saveFileName(QWidget* p, const QString& dir, const QString& filter, const QString& suffix) override {
        lastSuffix = suffix;
        return openFileName(p, dir, filter);
    }

    QStringList texts() const {
        QStringList t;
        for (const Shown& s : shown)
            t.append(s.text);
        return t;
    }
    QString lastText() const { return shown.isEmpty() ? QString() : shown.last().text; }

    QList<Shown> shown;
    QList<MsgAnswer> answers;
    QStringList fileNames;
    QString lastDir, lastFilter, lastSuffix;
};
