#include "serial/ComTypes.h"

#include <array>

namespace {
// Driver mask bit of each event, in ordinal order.
constexpr std::array<uint32_t, 10> eventMaskBits{ComMask::RxChar, ComMask::TxEmpty, ComMask::RxFlag, ComMask::Ring,
                                                 ComMask::Break,  ComMask::CTS,     ComMask::DSR,    ComMask::Err,
                                                 ComMask::RLSD,   ComMask::Rx80Full};
} // namespace

uint32_t EventsToMask(TComEvents events)
{
    uint32_t mask = 0;
    for (unsigned i = 0; i < eventMaskBits.size(); ++i)
        if (events.contains(static_cast<TComEvent>(i)))
            mask |= eventMaskBits[i];
    return mask;
}

TComEvents MaskToEvents(uint32_t mask)
{
    TComEvents events;
    for (unsigned i = 0; i < eventMaskBits.size(); ++i)
        if (mask & eventMaskBits[i])
            events.insert(static_cast<TComEvent>(i));
    return events;
}

int32_t BaudRateValue(TBaudRate rate)
{
    static constexpr std::array<int32_t, 16> values{0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                                    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate < values.size() ? values[rate] : 0;
}
