#pragma once
#include "sensor/Reading.h"

#include <chrono>
#include <cstddef>
#include <vector>

// A reading waiting to be handed to the MQTT client, with the time it was taken.
struct TQueuedReading {
    std::chrono::system_clock::time_point takenAt;
    TReading reading;
};

// First-in first-out store of readings in one ring that doubles when full (72 bytes a reading, so a
// day at 1 s is about 6 MB) and returns to its first size once emptied. Not thread-safe.
class TReadingQueue {
public:
    static constexpr size_t InitialCapacity = 256;

    bool empty() const { return FCount == 0; }
    size_t size() const { return FCount; }
    size_t capacity() const { return FItems.size(); }

    void push(const TQueuedReading& item)
    {
        if (FCount == FItems.size())
            grow();
        FItems[(FHead + FCount) % FItems.size()] = item;
        ++FCount;
    }
    const TQueuedReading& front() const { return FItems[FHead]; }
    void pop()
    {
        FHead = (FHead + 1) % FItems.size();
        if (--FCount == 0 && FItems.size() > InitialCapacity) {
            std::vector<TQueuedReading>(InitialCapacity).swap(FItems);
            FHead = 0;
        }
    }

private:
    void grow()
    {
        std::vector<TQueuedReading> bigger(FItems.empty() ? InitialCapacity : FItems.size() * 2);
        for (size_t i = 0; i < FCount; ++i)
            bigger[i] = FItems[(FHead + i) % FItems.size()];
        FItems.swap(bigger);
        FHead = 0;
    }

    std::vector<TQueuedReading> FItems;
    size_t FHead = 0;
    size_t FCount = 0;
};
