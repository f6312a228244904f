#pragma once
// What every in-process window test stands on: a temporary folder that is both the working
// folder and the executable's (so the task files, Results and Export land in it), dialogs the
// test answers, and a clock that stands still. A test class derives from it beside QObject
// and calls setUpWindow() and tearDownWindow() from its init() and cleanup().

#include "mock/MockClock.h"
#include "mock/ScriptedDialogs.h"
#include "engine/Station.h"
#include "gui/Unit1.h"

#include <QDir>
#include <QTemporaryDir>
#include <memory>

class WindowFixture {
protected:
    void setUpWindow() {
        dir_ = std::make_unique<QTemporaryDir>();
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        dialogs_ = std::make_unique<ScriptedDialogs>();
        clock_ = MockClock();
    }
    void tearDownWindow() {
        QDir::setCurrent(oldCwd_);
        dialogs_.reset();
        dir_.reset();
    }
    // The window as the program starts it, in the test's folder and on the test's clock.
    std::unique_ptr<TForm1> newWindow() {
        auto w = std::make_unique<TForm1>(StartOptions{dir_->path(), &clock_});
        w->Engine->setTaskSettleMs(0); // the tests' task files are whole when they are written
        return w;
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ScriptedDialogs> dialogs_;
    MockClock clock_;
    QString oldCwd_;
};
