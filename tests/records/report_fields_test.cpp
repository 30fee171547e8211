#include "records/report_fields.h"

#include <gtest/gtest.h>

using namespace korvela;

TEST(ReportFields, TwentySevenInColumnOrder)
{
    ASSERT_EQ(reportFields().size(), 27u);
    EXPECT_EQ(columnName(Field::PatientName), u"A1");
    EXPECT_EQ(columnName(Field::MammographyPair), u"A27");
}
