#include "record/LogLoader.h"

#include <QThread>
#include <exception>

TLogLoader::TLogLoader(QObject* parent) : QObject(parent) {}

TLogLoader::~TLogLoader()
{
    if (!FThread)
        return;
    FCancel = true;
    FThread->wait();
    delete FThread;
}

void TLogLoader::start(const QStringList& paths, const QTimeZone& zone)
{
    if (FThread)
        return;
    FCancel = false;
    FPercent = -1;
    FResult = {};
    FThread = QThread::create([this, paths, zone] {
        try {
            FResult = ReadLogRun(
                paths,
                [this](int64_t done, int64_t total) {
                    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
                    if (percent != FPercent) {
                        FPercent = percent;
                        QMetaObject::invokeMethod(
                            this, [this, percent] { emit progress(percent); }, Qt::QueuedConnection);
                    }
                    return !FCancel.load();
                },
                zone);
        } catch (const std::exception& e) { // out of memory: say so rather than end the program
            FResult = {};
            FResult.files.push_back(
                {paths.value(0),
                 TLogData::Unknown,
                 0,
                 0,
                 {{TLogProblem::CannotOpen, 0, 1, "cannot read the files: " + std::string(e.what())}},
                 false});
        }
    });
    connect(FThread, &QThread::finished, this, &TLogLoader::threadDone);
    FThread->start();
}

void TLogLoader::cancel()
{
    FCancel = true;
}

void TLogLoader::threadDone()
{
    if (!FThread)
        return;
    FThread->wait();
    FThread->deleteLater();
    FThread = nullptr;
    emit finished();
}
