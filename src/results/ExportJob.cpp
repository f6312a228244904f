#include "ExportJob.h"

#include "core/AppError.h"

namespace results {

ExportJob::ExportJob(QObject* parent) : QObject(parent) {}

ExportJob::~ExportJob() {
    wait();
}

bool ExportJob::start(ExportSheet sheet, const QString& fileName) {
    if (running_.load())
        return false;
    wait(); // a finished worker not yet joined
    running_ = true;
    worker_ = std::thread([this, sheet = std::move(sheet), fileName] {
        bool ok = true;
        QString error;
        try {
            WriteWorkbook(sheet, fileName, [this](int percent) { Q_EMIT progress(percent); });
        } catch (const AppError& e) {
            ok = false;
            error = e.text();
        } catch (const std::exception& e) {
            ok = false;
            error = QString::fromLocal8Bit(e.what());
        }
        running_ = false;
        Q_EMIT finished(ok, error);
    });
    return true;
}

void ExportJob::wait() {
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
        worker_.join();
}

} // namespace results
