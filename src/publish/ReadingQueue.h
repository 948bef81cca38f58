#pragma once
#include "publish/PublishEvent.h"
#include "sensor/Reading.h"

#include <chrono>
#include <cstddef>
#include <variant>
#include <vector>

// The alarm rules changed: the publisher takes the newest ones when it comes to this mark in the queue.
struct TAlarmRulesMark {};

// What waits to be handed to the MQTT client, in the order it came: a reading with the time it was taken,
// an alarm event (takenAt is its time), or a change of the alarm rules. A fixed size, no allocation.
struct TQueuedItem {
    std::chrono::system_clock::time_point takenAt;
    std::variant<TReading, TPublishEvent, TAlarmRulesMark> what;

    bool isMark() const { return std::holds_alternative<TAlarmRulesMark>(what); }
};

// First-in first-out store of items in one ring that doubles when full (about 100 bytes an item, so a
// day at 1 s is about 9 MB) and returns to its first size once emptied. Not thread-safe.
class TReadingQueue {
public:
    static constexpr size_t InitialCapacity = 256;

    bool empty() const { return FCount == 0; }
    size_t size() const { return FCount; }
    size_t capacity() const { return FItems.size(); }

    void push(const TQueuedItem& item)
    {
        if (FCount == FItems.size())
            grow();
        FItems[(FHead + FCount) % FItems.size()] = item;
        ++FCount;
    }
    const TQueuedItem& front() const { return FItems[FHead]; }
    void pop()
    {
        FHead = (FHead + 1) % FItems.size();
        if (--FCount == 0 && FItems.size() > InitialCapacity) {
            std::vector<TQueuedItem>(InitialCapacity).swap(FItems);
            FHead = 0;
        }
    }

private:
    void grow()
    {
        std::vector<TQueuedItem> bigger(FItems.empty() ? InitialCapacity : FItems.size() * 2);
        for (size_t i = 0; i < FCount; ++i)
            bigger[i] = FItems[(FHead + i) % FItems.size()];
        FItems.swap(bigger);
        FHead = 0;
    }

    std::vector<TQueuedItem> FItems;
    size_t FHead = 0;
    size_t FCount = 0;
};
