#include "app/SaveDialog.h"

#include <gtest/gtest.h>

TEST(SaveDialog, FilterPairsBecomeNameFilters)
{
    TSaveDialog dialog;
    dialog.SetFilter(QStringLiteral("Bitmaps (*.bmp)|*.bmp"));
    EXPECT_EQ(dialog.NameFilters(), QStringList{QStringLiteral("Bitmaps (*.bmp)")});
    dialog.SetFilter(QStringLiteral("Text files|*.txt|All files (*)|*"));
    EXPECT_EQ(dialog.NameFilters(),
              (QStringList{QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")}));
}

TEST(SaveDialog, DefaultExtensionIsAppendedToANameWithoutOne)
{
    TSaveDialog dialog;
    dialog.SetDefaultExt(QStringLiteral("txt"));
    QString answer;
    TSaveDialog::SetExecuteFunction([&](const TSaveDialog&) { return answer; });
    answer = QStringLiteral("/tmp/log");
    ASSERT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName(), QStringLiteral("/tmp/log.txt"));
    answer = QStringLiteral("/tmp/log.dat");
    ASSERT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName(), QStringLiteral("/tmp/log.dat"));
    answer.clear();
    EXPECT_FALSE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName(), QStringLiteral("/tmp/log.dat"));
    TSaveDialog::SetExecuteFunction({});
}
