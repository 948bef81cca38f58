#pragma once
#include "publish/PublishSettings.h"

#include <QObject>
#include <QString>
#include <memory>
#include <string>

// "Test connection": one connection attempt with the given settings, off the caller's thread, under a
// client id of its own (so that a running publisher is not disturbed) and publishing nothing.
// finished() reports "Connected to host:port" or why not.
class TConnectionTest : public QObject {
    Q_OBJECT
public:
    explicit TConnectionTest(QObject* parent = nullptr);
    ~TConnectionTest() override; // ends an attempt still running without waiting for its answer

    // Starts an attempt; settings that cannot be used, or a test already running, give finished(false, why).
    void start(const TPublishSettings& settings, const std::string& portName, int timeoutSeconds = 10);
    bool running() const;

signals:
    void finished(bool connected, const QString& text);

private:
    class Attempt;
    Q_INVOKABLE void attemptFinished(); // posted by the attempt's thread
    std::unique_ptr<Attempt> FAttempt;
};
