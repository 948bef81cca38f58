#pragma once
#include "record/LogRun.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

class QThread;

// Reads log files (a run: ReadLogRun) on a worker thread, so that a window stays responsive. progress() and finished()
// arrive on the loader's thread; after finished(), takeResult() hands over what was read (everything, or what came
// before cancel()). Destroying the loader cancels a read in progress and waits for its thread.
//
//     auto* loader = new TLogLoader(window);
//     connect(loader, &TLogLoader::progress, bar, &QProgressBar::setValue);
//     connect(loader, &TLogLoader::finished, window, [=] { show(loader->takeResult()); });
//     loader->start(fileName);
class TLogLoader : public QObject {
    Q_OBJECT
public:
    explicit TLogLoader(QObject* parent = nullptr);
    ~TLogLoader() override;

    // Starts reading the files and folders named, placing their times with `zone`; a loader reads one run
    // at a time (a call while running is ignored).
    void start(const QStringList& paths, const QTimeZone& zone = QTimeZone::systemTimeZone());
    void start(const QString& fileName) { start(QStringList{fileName}); }
    // Asks the worker to stop after the piece it is on; finished() follows.
    void cancel();
    bool isRunning() const { return FThread != nullptr; }
    TLogRun takeResult() { return std::move(FResult); }

signals:
    void progress(int percent);
    void finished();

private:
    void threadDone();

    QThread* FThread = nullptr;
    std::atomic<bool> FCancel{false};
    int FPercent = -1; // worker thread only
    TLogRun FResult;   // written by the worker, read after its end
};
