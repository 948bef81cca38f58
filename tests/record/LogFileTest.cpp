#include "record/LogFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(LogFile, FlushHandsBytesToTheSystemAndCloseWritesTheRest)
{
    TempDir dir;
    TLogFile file;
    file.Rewrite(dir.file("a.txt"));
    EXPECT_TRUE(file.IsOpen());
    file.Write("Date\tTime");
    EXPECT_EQ(dir.read("a.txt"), "");
    file.Flush();
    EXPECT_EQ(dir.read("a.txt"), "Date\tTime");
    file.WriteLineEnd();
    EXPECT_EQ(dir.read("a.txt"), "Date\tTime");
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(dir.read("a.txt"), "Date\tTime\r\n");
}

TEST(LogFile, RewriteTruncatesAnExistingFile)
{
    TempDir dir;
    dir.write("a.txt", "old content that is longer");
    TLogFile file;
    file.Rewrite(dir.file("a.txt"));
    file.Write("new");
    file.Close();
    EXPECT_EQ(dir.read("a.txt"), "new");
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

TEST(LogFile, AFailedFlushDropsTheRefusedBytesSoCloseSucceeds)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not available";
    TLogFile file;
    file.Rewrite("/dev/full");
    file.Write("x");
    try {
        file.Flush();
        ADD_FAILURE();
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "I/O error 28: \"/dev/full\": No space left on device");
    }
    EXPECT_NO_THROW(file.Close());
}

TEST(LogFile, FlushOrCloseOfAClosedFileRaises)
{
    TLogFile file;
    EXPECT_THROW(file.Flush(), EInOutError);
    EXPECT_THROW(file.Close(), EInOutError);
}
