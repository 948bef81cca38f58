#include "publish/PublishSpool.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono;

const system_clock::time_point SpoolT0 = system_clock::time_point(seconds(1796852400)) + milliseconds(42);

TQueuedItem reading(int sample)
{
    return {SpoolT0 + seconds(sample), TReading(TChannelsModeStructure{3, sample, 49876, 120, true, 0.0123, 24, 101.3})};
}

TQueuedItem event(const char* name, const char* quantity, TPublishEvent::Alarm alarm)
{
    TPublishEvent e;
    e.time = SpoolT0 + milliseconds(500);
    TPublishEvent::copyName(e.event, name);
    TPublishEvent::copyName(e.quantity, quantity);
    e.value = 0.0125;
    e.level = 0.01;
    e.alarm = alarm;
    return {e.time, e};
}

// The samples of the readings, and "E:name" for events, in order.
std::vector<std::string> summary(const std::vector<TQueuedItem>& items)
{
    std::vector<std::string> out;
    for (const TQueuedItem& item : items) {
        if (const auto* e = std::get_if<TPublishEvent>(&item.what))
            out.push_back(std::string("E:") + e->event);
        else if (const auto* r = std::get_if<TReading>(&item.what))
            out.push_back(std::to_string(std::get<TChannelsModeStructure>(*r).Sample));
    }
    return out;
}

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(PublishSpool, ItemsComeBackInOrderWithTheirTimesAndTheFileEmptiesWhenNothingWaits)
{
    TempDir dir;
    const std::string path = dir.file("publish.spool");
    std::vector<TQueuedItem> items;
    {
        TPublishSpool spool;
        ASSERT_TRUE(spool.open(path, 100, items)) << spool.error();
        EXPECT_TRUE(items.empty());
        spool.append(reading(1));
        spool.append(event("alarm on", "concentration", TPublishEvent::Alarm::On));
        spool.append({SpoolT0, TReading(TConcentrationModeStructure{0.0101, 0.0102, 0.0099, 0.01, 0.0098, 21, 101.3, 45})});
        spool.append({SpoolT0, TAlarmRulesMark{}}); // not kept
        EXPECT_EQ(spool.records(), 3u);
    }
    TPublishSpool again;
    ASSERT_TRUE(again.open(path, 100, items)) << again.error();
    EXPECT_TRUE(again.takeNotes().empty());
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].takenAt, SpoolT0 + seconds(1));
    EXPECT_EQ(std::get<TReading>(items[0].what), std::get<TReading>(reading(1).what));
    const auto& e = std::get<TPublishEvent>(items[1].what);
    EXPECT_STREQ(e.event, "alarm on");
    EXPECT_STREQ(e.quantity, "concentration");
    EXPECT_EQ(e.value, 0.0125);
    EXPECT_EQ(e.level, 0.01);
    EXPECT_EQ(e.alarm, TPublishEvent::Alarm::On);
    EXPECT_EQ(e.time, SpoolT0 + milliseconds(500));
    EXPECT_EQ(std::get<TReading>(items[2].what),
              TReading(TConcentrationModeStructure{0.0101, 0.0102, 0.0099, 0.01, 0.0098, 21, 101.3, 45}));

    again.settle(3); // all still waiting: kept
    EXPECT_GT(std::filesystem::file_size(path), TPublishSpool::HeaderSize);
    again.settle(0);
    EXPECT_EQ(std::filesystem::file_size(path), TPublishSpool::HeaderSize);
    again.append(reading(7));
    TPublishSpool third;
    ASSERT_TRUE(third.open(path, 100, items));
    EXPECT_EQ(summary(items), std::vector<std::string>{"7"});
}

TEST(PublishSpool, DeliveredRecordsAreCompactedAwayOnceTheyOutnumberTheBound)
{
    TempDir dir;
    const std::string path = dir.file("publish.spool");
    std::vector<TQueuedItem> items;
    TPublishSpool spool;
    ASSERT_TRUE(spool.open(path, 3, items));
    for (int i = 1; i <= 6; ++i) {
        spool.append(reading(i));
        spool.settle(2); // the bound keeps the newest two waiting
    }
    EXPECT_LE(spool.records(), 2u + 3u);
    const auto size = std::filesystem::file_size(path);
    for (int i = 7; i <= 40; ++i) {
        spool.append(reading(i));
        spool.settle(2);
    }
    EXPECT_LE(std::filesystem::file_size(path), size + 2 * (size - TPublishSpool::HeaderSize)); // it does not grow
    TPublishSpool again;
    ASSERT_TRUE(again.open(path, 3, items));
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(summary(items).back(), "40");
    EXPECT_EQ(summary(items)[items.size() - 2], "39");
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"publish.spool"});
}

// A cut last record (a crash during a write) or a damaged one: what comes before is read, the whole file is
// kept aside and the operator told; the spool goes on with what was read.
TEST(PublishSpool, ADamagedFileIsReadUpToTheDamageAndKeptAside)
{
    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        std::vector<std::string> read;
    };
    const std::vector<Case> cases = {
        {"cut last record", [](std::string& s) { s.resize(s.size() - 5); }, {"1", "E:alarm on"}},
        {"flipped byte in the second", [](std::string& s) { s[TPublishSpool::HeaderSize + 8 + 60] ^= 0x10; }, {"1"}},
        {"length out of range", [](std::string& s) { s[TPublishSpool::HeaderSize + 3] = 0x7f; }, {}},
        {"not a spool", [](std::string& s) { s.replace(0, 8, "GARBAGE!"); }, {}},
        {"header cut", [](std::string& s) { s.resize(7); }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.file("publish.spool");
        std::vector<TQueuedItem> items;
        {
            TPublishSpool spool;
            ASSERT_TRUE(spool.open(path, 100, items));
            spool.append(reading(1));
            spool.append(event("alarm on", "concentration", TPublishEvent::Alarm::On));
            spool.append(reading(3));
        }
        std::string content = dir.read("publish.spool");
        c.damage(content);
        dir.write("publish.spool", content);

        TPublishSpool spool;
        ASSERT_TRUE(spool.open(path, 100, items)) << spool.error();
        EXPECT_EQ(summary(items), c.read);
        const auto notes = spool.takeNotes();
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_NE(notes[0].find("damaged"), std::string::npos) << notes[0];
        const auto names = filesIn(dir.path());
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(names[0], "publish.spool");
        EXPECT_EQ(names[1].rfind("publish.spool.damaged-", 0), 0u) << names[1];
        EXPECT_NE(notes[0].find(names[1]), std::string::npos) << notes[0];
        EXPECT_EQ(dir.read(names[1]), content); // nothing of it lost

        spool.append(reading(4)); // goes on after what was read
        TPublishSpool again;
        ASSERT_TRUE(again.open(path, 100, items));
        EXPECT_TRUE(again.takeNotes().empty());
        EXPECT_EQ(summary(items).back(), "4");
        EXPECT_EQ(items.size(), c.read.size() + 1);
    }
}

TEST(PublishSpool, AFolderThatCannotBeWrittenIsAnError)
{
    TPublishSpool spool;
    std::vector<TQueuedItem> items;
    EXPECT_FALSE(spool.open("/proc/velmora-none/publish.spool", 100, items));
    EXPECT_NE(spool.error().find("/proc/velmora-none/publish.spool"), std::string::npos) << spool.error();
}
