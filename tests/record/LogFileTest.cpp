// The log file and its writer against real faults: a full device, the file size limit cutting a write
// short anywhere in a line, a pipe without a reader, a file removed under the writer.
#include "record/LogFile.h"
#include "record/LogWriter.h"
#include "record/RegionalSettings.h"
#include "record/RunClock.h"
#include "support/TempDir.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string ChannelsHeader =
    "Date\tTime\tChannel\tSample\tReference\tVoltage PWM\tConcentration\tTemperature\tPressure";

bool haveDevFull()
{
    return access("/dev/full", W_OK) == 0;
}

// The file size limit of the process (RLIMIT_FSIZE) while it lives; the hard limit stays.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &FSaved);
        set(bytes);
    }
    void set(uint64_t bytes)
    {
        const rlimit limit{static_cast<rlim_t>(bytes), FSaved.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &FSaved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit FSaved{};
};

// Wall time set by the test; monotonic time too.
struct SetClock : RunClock {
    QDateTime at;
    std::chrono::nanoseconds t{};
    std::chrono::nanoseconds now() const override { return t; }
    QDateTime wallNow() const override { return at; }
};

} // namespace

TEST(LogFile, RewriteTruncatesAnExistingFile)
{
    TempDir dir;
    dir.write("a.txt", "old content that is longer");
    TLogFile file;
    file.Rewrite(dir.file("a.txt"));
    EXPECT_FALSE(file.Created());
    file.Append("new");
    EXPECT_EQ(dir.read("a.txt"), "new");
    file.Close();
    EXPECT_FALSE(file.IsOpen());
}

TEST(LogFile, CreationErrorsNameTheirCause)
{
    TempDir dir;
    TLogFile file;
    try {
        file.Rewrite(dir.file("missing/a.txt"));
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.what(), "I/O error 2: \"" + dir.file("missing/a.txt") + "\": No such file or directory");
    }
    EXPECT_THROW(file.Rewrite(""), EInOutError);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(TLogFile::ErrorText(EACCES), "File access denied");
    EXPECT_EQ(TLogFile::ErrorText(ENAMETOOLONG), "Invalid filename");
}

TEST(LogFile, AFullDeviceRaisesAndTheFileStillCloses)
{
    if (!haveDevFull())
        GTEST_SKIP() << "/dev/full is not available";
    TLogFile file;
    file.Rewrite("/dev/full");
    try {
        file.Append("x");
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "I/O error 28: \"/dev/full\": No space left on device");
    }
    EXPECT_NO_THROW(file.Close());
}

TEST(LogFile, AppendSyncOrCloseOfAClosedFileRaises)
{
    TLogFile file;
    EXPECT_THROW(file.Append("x"), EInOutError);
    EXPECT_THROW(file.Sync(), EInOutError);
    EXPECT_THROW(file.Close(), EInOutError);
    EXPECT_FALSE(file.Replaced());
}

class LogWriterTest : public ::testing::Test {
protected:
    TempDir dir;
    SetClock clock;
    TLogWriter log{clock};
    const QDateTime start{QDate(2012, 3, 5), QTime(14, 7, 9, 42)};

    void SetUp() override { ApplyRegionalSettings(); }

    static TChannelsModeStructure reading(int i) { return {3, 51234 + i, 49876, 120, true, 0.0123, 24, 101.3}; }
    QDateTime timeOf(int i) const { return start.addMSecs(1001LL * i); }
    // Line i as it must stand in the file: its own time and its own sample count.
    std::string line(int i) const
    {
        const QDateTime at = timeOf(i);
        return (at.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char('\t')
                + at.toString(QStringLiteral("hh:mm:ss.zzz")))
                   .toStdString()
               + "\t3\t" + std::to_string(51234 + i) + "\t49876\t120\t0.0123\t24\t101.3";
    }
    // The header, then the lines, each after the line end of the one before.
    std::string content(const std::vector<int>& lines) const
    {
        std::string text = ChannelsHeader;
        for (const int i : lines)
            text += "\r\n" + line(i);
        return text;
    }
    void write(int i)
    {
        clock.at = timeOf(i);
        log.writeLine(reading(i));
    }
    // The message of what fails, or "" when nothing does.
    template <typename F> static std::string failure(F&& f)
    {
        try {
            f();
        } catch (const EInOutError& e) {
            return e.what();
        }
        return {};
    }
    uint64_t size(const std::string& name) const { return std::filesystem::file_size(dir.file(name)); }
};

TEST_F(LogWriterTest, EachLineGoesOutWholeWithTheLineEndOfTheLineBefore)
{
    log.open(dir.file("run.txt"), false);
    EXPECT_EQ(dir.read("run.txt"), ChannelsHeader);
    write(0);
    EXPECT_EQ(dir.read("run.txt"), content({0}));
    write(1);
    EXPECT_EQ(dir.read("run.txt"), content({0, 1}));
    log.close();
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(dir.read("run.txt"), content({0, 1}) + "\r\n");

    { // a writer going away closes its file the same way
        TLogWriter other(clock);
        other.openNew(dir.file("other.txt"), false);
    }
    EXPECT_EQ(dir.read("other.txt"), ChannelsHeader + "\r\n");
}

// The file size limit cuts the write of a line short at every byte of it (its line end before it
// included): the file keeps only whole lines, and the lines that failed wait and go out in order, each
// with its own time, once the limit is lifted.
TEST_F(LogWriterTest, AWriteCutShortAnywhereInALineLeavesOnlyWholeLines)
{
    log.open(dir.file("run.txt"), false);
    write(0);
    const std::string piece = "\r\n" + line(1); // what the next write hands to the system
    std::vector<int> written = {0};
    int next = 1;
    for (size_t cut = 0; cut < piece.size(); ++cut) {
        const std::string field =
            cut < 2 ? "line end" : "field " + std::to_string(std::count(piece.begin(), piece.begin() + cut, '\t') + 1);
        SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes, in the " + field);
        const std::string before = dir.read("run.txt");
        const int first = next;
        std::string error1, error2;
        {
            FileSizeLimit limit(size("run.txt") + cut);
            error1 = failure([&] { write(next++); });
            error2 = failure([&] { write(next++); });
        }
        EXPECT_EQ(error1, "I/O error 27: \"" + dir.file("run.txt") + "\": File too large");
        EXPECT_EQ(error2, error1);
        EXPECT_EQ(dir.read("run.txt"), before);
        EXPECT_EQ(log.waiting(), 2u);
        write(next);
        for (int i = first; i <= next; ++i)
            written.push_back(i);
        ++next;
        ASSERT_EQ(dir.read("run.txt"), content(written));
    }
    EXPECT_EQ(log.dropped(), 0u);
}

// With room for some of the waiting lines, those go in. A close that cannot write the rest says how many,
// closes all the same and keeps them for the next file, where they go in with their own times.
TEST_F(LogWriterTest, WaitingLinesGoInAsFarAsThereIsRoomAndTheRestWaitForTheNextFile)
{
    log.open(dir.file("run.txt"), false);
    write(0);
    const std::string tooLarge = "I/O error 27: \"" + dir.file("run.txt") + "\": File too large";
    const uint64_t size0 = size("run.txt");
    std::string partly, closing;
    {
        FileSizeLimit limit(size0);
        for (int i = 1; i <= 4; ++i)
            EXPECT_EQ(failure([&] { write(i); }), tooLarge);
        EXPECT_EQ(log.waiting(), 4u);
        limit.set(size0 + content({0, 1, 2}).size() - content({0}).size() + 5);
        partly = failure([&] { log.writeWaiting(); });
        closing = failure([&] { log.close(); });
    }
    EXPECT_EQ(partly, tooLarge);
    EXPECT_EQ(closing, tooLarge + "; 2 lines could not be written");
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(log.waiting(), 2u);
    EXPECT_EQ(dir.read("run.txt"), content({0, 1, 2}));

    log.openNew(dir.file("next.txt"), false);
    write(5);
    log.close();
    EXPECT_EQ(dir.read("next.txt"), content({3, 4, 5}) + "\r\n");
}

// Lines made while no file could be opened wait for one; a full device fails the header.
TEST_F(LogWriterTest, LinesWaitThroughAFailedOpen)
{
    if (!haveDevFull())
        GTEST_SKIP() << "/dev/full is not available";
    ASSERT_EQ(symlink("/dev/full", dir.file("full.txt").c_str()), 0);
    clock.at = timeOf(0);
    log.queueLine(reading(0));
    EXPECT_EQ(failure([&] { log.open(dir.file("full.txt"), false); }),
              "I/O error 28: \"" + dir.file("full.txt") + "\": No space left on device");
    EXPECT_FALSE(log.isOpen());
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("full.txt"))); // not this writer's to remove
    EXPECT_EQ(failure([&] { write(1); }), "I/O error 9");
    EXPECT_EQ(log.waiting(), 2u);
    log.open(dir.file("run.txt"), false);
    write(2);
    EXPECT_EQ(dir.read("run.txt"), content({0, 1, 2}));
}

// An open whose header cannot be written leaves no file behind that it created; a file it truncated
// stays, empty.
TEST_F(LogWriterTest, AHeaderThatCannotBeWrittenLeavesNoFileOfItsOwn)
{
    dir.write("old.txt", "an older run, longer than what is allowed now");
    for (const uint64_t room : {uint64_t{0}, uint64_t{10}}) {
        SCOPED_TRACE(room);
        std::string created, createdNew, truncated;
        {
            FileSizeLimit limit(room);
            created = failure([&] { log.open(dir.file("run.txt"), false); });
            createdNew = failure([&] { log.openNew(dir.file("new.txt"), false); });
            truncated = failure([&] { log.open(dir.file("old.txt"), false); });
        }
        EXPECT_EQ(created, "I/O error 27: \"" + dir.file("run.txt") + "\": File too large");
        EXPECT_EQ(createdNew, "I/O error 27: \"" + dir.file("new.txt") + "\": File too large");
        EXPECT_EQ(truncated, "I/O error 27: \"" + dir.file("old.txt") + "\": File too large");
        EXPECT_FALSE(std::filesystem::exists(dir.file("run.txt")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("new.txt")));
        EXPECT_EQ(dir.read("old.txt"), "");
        EXPECT_FALSE(log.isOpen());
    }
}

TEST_F(LogWriterTest, AFileRemovedOrReplacedUnderTheWriterIsNoticed)
{
    EXPECT_FALSE(log.fileReplaced()); // no file
    log.open(dir.file("run.txt"), false);
    write(0);
    EXPECT_FALSE(log.fileReplaced());
    std::filesystem::rename(dir.file("run.txt"), dir.file("rotated.txt"));
    EXPECT_TRUE(log.fileReplaced());
    dir.write("run.txt", "another file");
    EXPECT_TRUE(log.fileReplaced());
    std::filesystem::remove(dir.file("run.txt"));
    EXPECT_TRUE(log.fileReplaced());
    write(1); // still goes to the open file
    EXPECT_EQ(dir.read("rotated.txt"), content({0, 1}));
}

// Past the bound the oldest lines go and are counted; lines of the other mode do not go into a file.
TEST_F(LogWriterTest, TheBoundDropsTheOldestWaitingLines)
{
    log.setWaitingBound(3);
    for (int i = 0; i < 5; ++i) {
        clock.at = timeOf(i);
        log.queueLine(reading(i));
    }
    EXPECT_EQ(log.waiting(), 3u);
    EXPECT_EQ(log.dropped(), 2u);
    log.setWaitingBound(2);
    EXPECT_EQ(log.waiting(), 2u);
    EXPECT_EQ(log.dropped(), 3u);
    log.queueLine(TConcentrationModeStructure{});
    EXPECT_EQ(log.dropped(), 4u);

    log.open(dir.file("run.txt"), false);
    EXPECT_EQ(log.waiting(), 1u); // the Concentration line does not fit the header
    EXPECT_EQ(log.dropped(), 5u);
    write(5);
    EXPECT_EQ(dir.read("run.txt"), content({4, 5}));
}

// A pipe: opening never waits for a reader, and a reader that leaves fails the write instead of ending
// the process with SIGPIPE (not ignored by this test: the writer does it).
TEST_F(LogWriterTest, APipeWithoutAReaderFailsAtOnce)
{
    const std::string fifo = dir.file("pipe.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto opened = std::async(std::launch::async, [&] { return failure([&] { log.open(fifo, false); }); });
    if (opened.wait_for(20s) != std::future_status::ready) {
        const int release = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK); // lets the hung open return
        opened.wait();
        ::close(release);
        FAIL() << "the open waited for a reader";
    }
    EXPECT_EQ(opened.get(), "I/O error 6: \"" + fifo + "\": No process reads from the pipe");

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    log.open(fifo, false);
    ::close(reader);
    EXPECT_EQ(failure([&] { write(0); }), "I/O error 32: \"" + fifo + "\": Broken pipe");
    EXPECT_EQ(log.waiting(), 1u);
}
