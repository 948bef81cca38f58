#include "record/RunClock.h"

#include <chrono>

namespace {
class SystemRunClock final : public RunClock {
public:
    std::chrono::nanoseconds now() const override { return std::chrono::steady_clock::now().time_since_epoch(); }
    QDateTime wallNow() const override { return QDateTime::currentDateTime(); }
};
} // namespace

const RunClock& systemRunClock()
{
    static const SystemRunClock clock;
    return clock;
}
