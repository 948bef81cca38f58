// The receive path allocates nothing per byte or line once its buffers have grown.
#include "sensor/SensorObjects.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <string>

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
} // namespace

void* operator new(std::size_t size)
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
// Not inlined: GCC would see the free() of a pointer that operator new returned and warn of a mismatch
// (-Wmismatched-new-delete at -O2 with Debian's build flags).
[[gnu::noinline]] void operator delete(void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

TEST(SensorAllocationTest, SteadyStateReceivePathDoesNotAllocate)
{
    std::string stream;
    for (int i = 1; i <= 8; ++i)
        stream += "\nR" + std::to_string(i) + " pot setting " + std::to_string(i * 1000) + " of a longer text\r";
    stream += "\nN 0.01021 0.00998 0.01003 0.01011 0.00989 21 101.31 45\r"
              "\nN2 50123 49012 514 +0.01002 21 101.29\r"
              "\nC1 0.01 0.02 0.03 0.04 0.05 0.06 101 201 301 401\r"
              "\nE3 1003 2000 0.5000 3 1.2500 2.5000 3.7500 5.0000 10 11\r"
              "\nX 1.7 2 5 0 0 1\r"
              "\nU 5 a-longer-text-value another-longer-text-value q 7\r"
              "\nU 5 abc def q 7\r"
              "\nN 1 2  3 4\r"
              "\nD 1 2 99999999999 4\r\r\r"
              "\n\x01\x02garbage\x7f\r";
    stream += "\n" + std::string(TSensor::MaxLineLength + 10, 'z') + "\r";
    stream += "\nR9 once more\r";

    TSensor sensor;
    sensor.receiveBytes(stream); // buffers grow to their steady size
    g_allocations = 0;
    g_counting = true;
    for (int i = 0; i < 200; ++i) {
        sensor.receiveBytes(stream);
        for (size_t k = 0; k < stream.size(); k += 7) // odd chunks, as the port delivers them
            sensor.receiveBytes(std::string_view(stream).substr(k, 7));
    }
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0);
    EXPECT_EQ(sensor.ReplyKind(), ReplyKind::SettingPots);
}

} // namespace
