#include "sensor/SensorClock.h"

namespace {
class SteadySensorClock final : public SensorClock {
public:
    std::chrono::nanoseconds now() const override { return std::chrono::steady_clock::now().time_since_epoch(); }
};
} // namespace

const SensorClock& steadySensorClock()
{
    static const SteadySensorClock clock;
    return clock;
}
