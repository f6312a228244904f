#pragma once
// Runs one workbook export on a worker thread and reports back through queued signals, so the
// window's thread (and the test engine's timer on it) never waits for the writer.

#include "WorkbookWriter.h"

#include <QObject>
#include <atomic>
#include <thread>

namespace results {

class ExportJob : public QObject {
    Q_OBJECT
public:
    explicit ExportJob(QObject* parent = nullptr);
    ~ExportJob() override; // waits for a running export

    bool running() const { return running_.load(); }
    // Starts the export; the sheet is the job's own copy. Ignored while one runs.
    bool start(ExportSheet sheet, const QString& fileName);
    // Blocks until the worker has ended (no-op when none runs).
    void wait();

Q_SIGNALS:
    // Emitted from the worker thread: connect with a queued connection.
    void progress(int percent);
    void finished(bool ok, const QString& error);

private:
    std::thread worker_;
    std::atomic<bool> running_{false};
};

} // namespace results
