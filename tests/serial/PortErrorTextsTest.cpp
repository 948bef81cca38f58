#include "serial/CPort.h"
#include "support/TempDir.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

TEST(PortErrorTexts, UntranslatedTextsReadAsWritten)
{
    RegisterPortErrorTexts();
    EXPECT_EQ(PortErrorText(1), "Unable to open com port");
    EXPECT_EQ(PortErrorText(14), "Cannot set property while connected");
    EXPECT_EQ(PortErrorText(23), "Registry error");
    EXPECT_EQ(PortErrorText(24), "");
    EComPort withErrno(1, 5);
    EXPECT_STREQ(withErrno.what(), "Unable to open com port (win error code: 5)");
    EXPECT_EQ(withErrno.ErrorCode, 1);
    EXPECT_EQ(withErrno.SystemErrorCode, 5);
    EComPort withoutErrno(4);
    EXPECT_STREQ(withoutErrno.what(), "Invalid Async parameter");
    EXPECT_EQ(withoutErrno.SystemErrorCode, -1);
    EXPECT_STREQ(EComPort(2, -7).what(), "WriteFile function failed (win error code: -7)");
}

TEST(PortErrorTexts, CatalogueTranslatesTextsAndSuffix)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("de/LC_MESSAGES"));
    dir.write("cport.po", "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
                          "msgid \"Unable to open com port\"\nmsgstr \"Schnittstelle kann nicht geöffnet werden\"\n\n"
                          "msgid \" (win error code: %d)\"\nmsgstr \" (Systemfehler: %d)\"\n");
    const std::string cmd =
        std::string(MSGFMT_EXECUTABLE) + " -o " + dir.file("de/LC_MESSAGES/cport.mo") + " " + dir.file("cport.po");
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    setenv("LANGUAGE", "de", 1);
    setlocale(LC_MESSAGES, "C.UTF-8");
    RegisterPortErrorTexts(dir.path().c_str());
    EXPECT_EQ(PortErrorText(1), "Schnittstelle kann nicht geöffnet werden");
    EXPECT_EQ(PortErrorText(2), "WriteFile function failed"); // untranslated: unchanged
    EXPECT_STREQ(EComPort(1, 16).what(), "Schnittstelle kann nicht geöffnet werden (Systemfehler: 16)");

    // The German catalogue built for the program translates every text and the suffix.
    for (int32_t code = 1; code <= 23; ++code) {
        RegisterPortErrorTexts("/nonexistent");
        const std::string english = PortErrorText(code);
        RegisterPortErrorTexts(CATALOGUE_BUILD_DIR);
        EXPECT_NE(PortErrorText(code), english) << code;
    }
    EXPECT_STREQ(EComPort(1, 13).what(), "COM-Port kann nicht geöffnet werden (Systemfehlercode: 13)");
    unsetenv("LANGUAGE");
    setlocale(LC_MESSAGES, "C");
    RegisterPortErrorTexts("/nonexistent");
    EXPECT_EQ(PortErrorText(1), "Unable to open com port");
}
