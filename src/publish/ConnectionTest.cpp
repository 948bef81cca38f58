#include "publish/ConnectionTest.h"

#include "publish/MqttClient.h"
#include "publish/Publisher.h"

#include <QMetaObject>
#include <condition_variable>
#include <mutex>
#include <thread>

class TConnectionTest::Attempt final : public TMqttEvents {
public:
    Attempt(TConnectionTest& owner, TMqttEndpoint endpoint) : FOwner(owner), FClient(std::move(endpoint), *this)
    {
        FThread = std::thread([this] { run(); });
    }
    // The library calls the events below until its client is destroyed: end the thread, destroy the
    // client, and only then let the mutex and the results go.
    ~Attempt() override
    {
        {
            std::lock_guard lock(FMutex); // an attempt nobody waits for ends at once
            FCancelled = true;
            FChanged.notify_all();
        }
        FThread.join();
        FClient.destroy();
    }
    bool done() const
    {
        std::lock_guard lock(FMutex);
        return FDone;
    }
    // Owner's thread: the result, once, when done.
    bool takeResult(bool& ok, std::string& text)
    {
        std::lock_guard lock(FMutex);
        if (!FDone || FTaken)
            return false;
        FTaken = true;
        ok = FResult == 1;
        text = FText;
        return true;
    }

private:
    void connected() override
    {
        std::lock_guard lock(FMutex);
        FResult = 1;
        FChanged.notify_all();
    }
    void connectionLost() override {}
    void connectFailed(int code, const std::string& message) override
    {
        std::lock_guard lock(FMutex);
        FCode = code;
        FMessage = message;
        FResult = 0;
        FChanged.notify_all();
    }
    void tlsError(const std::string& reason) override
    {
        std::lock_guard lock(FMutex);
        FTls = reason;
    }
    void delivered(bool) override {}
    void disconnected() override
    {
        std::lock_guard lock(FMutex);
        FDisconnected = true;
        FChanged.notify_all();
    }

    void run()
    {
        const TMqttEndpoint& e = FClient.endpoint();
        std::string text = FClient.start(16);
        bool ok = false;
        if (text.empty()) {
            std::unique_lock lock(FMutex);
            FChanged.wait_for(lock, std::chrono::seconds(e.connectTimeoutSeconds + 5),
                              [this] { return FResult >= 0 || FCancelled; });
            if (FCancelled)
                return;
            const int result = FResult; // a late answer after the wait changes nothing
            ok = result == 1;
            const int code = FCode;
            const std::string message = FMessage, tls = FTls;
            lock.unlock();
            if (ok) {
                text = "Connected to " + e.address();
                FClient.disconnect(500);
                lock.lock();
                FChanged.wait_for(lock, std::chrono::seconds(2), [this] { return FDisconnected || FCancelled; });
            } else {
                text = ConnectFailureText(e, result < 0 ? -1 : code, result < 0 ? "timeout" : message, tls);
            }
        }
        {
            std::lock_guard lock(FMutex);
            FResult = ok ? 1 : 0;
            FText = text;
            FDone = true;
        }
        // By name, so that the result crosses under FMutex, not inside Qt's event queue (whose
        // synchronisation ThreadSanitizer cannot see).
        QMetaObject::invokeMethod(&FOwner, "attemptFinished", Qt::QueuedConnection);
    }

    TConnectionTest& FOwner;
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    int FResult = -1; // -1 waiting, 0 failed, 1 connected
    int FCode = 0;
    std::string FMessage, FTls, FText;
    bool FDisconnected = false, FDone = false, FTaken = false, FCancelled = false;
    // Last but the thread: without the explicit order it would still go before the state it calls into.
    TMqttClient FClient;
    std::thread FThread;
};

TConnectionTest::TConnectionTest(QObject* parent) : QObject(parent) {}

TConnectionTest::~TConnectionTest() = default;

void TConnectionTest::attemptFinished()
{
    bool ok = false;
    std::string text;
    if (FAttempt && FAttempt->takeResult(ok, text))
        emit finished(ok, QString::fromStdString(text));
}

bool TConnectionTest::running() const
{
    return FAttempt && !FAttempt->done();
}

void TConnectionTest::start(const TPublishSettings& settings, const std::string& portName, int timeoutSeconds)
{
    const auto refuse = [this](const std::string& why) {
        const QString text = QString::fromStdString(why);
        QMetaObject::invokeMethod(
            this, [this, text] { emit finished(false, text); }, Qt::QueuedConnection);
    };
    if (running())
        return refuse("a test is already running");
    FAttempt.reset();
    std::string problem = PublishSettingsProblem(settings);
    if (!problem.empty())
        return refuse(problem);
    TMqttEndpoint e = BrokerEndpoint(settings, EffectiveClientId(settings, portName) + "-test");
    e.connectTimeoutSeconds = timeoutSeconds;
    e.autoReconnect = false;
    e.cleanSession = true;
    FAttempt = std::make_unique<Attempt>(*this, std::move(e));
}
