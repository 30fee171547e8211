#include "records/report_store.h"

#include <gtest/gtest.h>

using namespace korvela;

TEST(Trim, OnlyBlanksAreRemoved)
{
    EXPECT_EQ(trimBlanks(QStringLiteral("  A01 ")), u"A01");
    EXPECT_EQ(trimBlanks(QStringLiteral("\tA01\t")), u"\tA01\t");
    EXPECT_EQ(trimBlanks(QStringLiteral("   ")), u"");
    EXPECT_EQ(trimBlanks(QStringLiteral("张 三")), u"张 三");
}
