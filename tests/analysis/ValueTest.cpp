#include "base/Step.h"
#include "base/Table.h"
#include "base/TextRules.h"
#include "base/Value.h"
#include "base/ValueJson.h"

#include <gtest/gtest.h>

using namespace chenglan;

TEST(Value, NumberFollowsThePagesConvention) {
    EXPECT_EQ(Value().number(), 0.0);
    EXPECT_EQ(Value(u"  12abc").number(), 12.0);
    EXPECT_EQ(Value(u"-1").number(), -1.0);
    EXPECT_EQ(Value(u"abc").number(), 0.0);
    EXPECT_EQ(Value(2.5).number(), 2.5);
    EXPECT_EQ(Value::fromInt16(-3).number(), -3.0);
    EXPECT_TRUE(Value(u"1").equals(1));
    EXPECT_TRUE(Value().equals(0));
}

TEST(Value, StrictConversionsFailAsStepFailures) {
    EXPECT_THROW(Value(u"12abc").toDouble(), StepFailure);
    EXPECT_EQ(Value(u" 12.5 ").toDouble(), 12.5);
    EXPECT_EQ(Value().toDouble(), 0.0);
    EXPECT_THROW(Value(u"not a date").toDate(), StepFailure);
    EXPECT_EQ(Value(u"2022-10-9 15:30").toDate(), QDateTime(QDate(2022, 10, 9), QTime(15, 30), Qt::UTC));
    EXPECT_THROW(Value(70000.0).toInt16(), StepFailure);
}

TEST(Value, TextForms) {
    EXPECT_EQ(Value(0.3).text(), "0.3");
    EXPECT_EQ(Value(-0.2).text(), "-0.2");
    EXPECT_EQ(Value(5.0).text(), "5");
    EXPECT_EQ(Value(QDateTime(QDate(2022, 10, 9), QTime(0, 0), Qt::UTC)).text(), "2022-10-09");
    EXPECT_EQ(Value(QDateTime(QDate(2022, 10, 9), QTime(15, 30), Qt::UTC)).text(), "2022-10-09 15:30:00");
}

TEST(Value, DateSerialCountsDaysSince18991230) {
    const QDateTime d(QDate(2022, 1, 1), QTime(12, 0), Qt::UTC);
    EXPECT_DOUBLE_EQ(dateToSerial(d), 44562.5);
    EXPECT_EQ(serialToDate(44562.5), d);
    EXPECT_DOUBLE_EQ(Value(d).number(), 44562.5);
}

TEST(Table, GrowsByRowsKeepingCells) {
    Table t(31, 2);
    t.set(21, 1, Value(1.25));
    t.resizeRows(5);
    EXPECT_EQ(t.at(21, 1), Value(1.25));
    EXPECT_TRUE(t.at(30, 4).isEmpty());
    EXPECT_EQ(t.appendRow(), 5);
    EXPECT_EQ(t.lastRow(), 5);
}

TEST(Table, OutOfRangeAndUnallocatedFail) {
    Table t(3, 1);
    EXPECT_THROW(t.at(3, 0), StepFailure);
    EXPECT_THROW(t.at(0, 1), StepFailure);
    EXPECT_THROW(t.set(-1, 0, Value(1.0)), StepFailure);
    Table none;
    EXPECT_FALSE(none.allocated());
    EXPECT_THROW(none.at(0, 0), StepFailure);
    EXPECT_THROW(none.lastRow(), StepFailure);
    ValueArray a;
    EXPECT_THROW(a.at(0), StepFailure);
}

TEST(Attempt, SkipsTheFailedStatementAndKeepsTheCell) {
    Table t(2, 1);
    t.set(0, 0, Value(u"kept"));
    StepLog log;
    const bool ok = attempt([&] { t.set(0, 0, Value(Value(u"x").toDouble())); }, &log);
    EXPECT_FALSE(ok);
    EXPECT_EQ(t.at(0, 0), Value(u"kept"));
    ASSERT_EQ(log.entries.size(), 1);
    EXPECT_EQ(log.entries[0].message, "not a number: \"x\"");
    EXPECT_THROW(attempt([] { throw StepFailure("stop", FailureKind::Cancelled); }), StepFailure);
}

TEST(TextRules, LeadingNumbers) {
    EXPECT_EQ(text::leadingNumber(u"  42\">"), 42.0);
    EXPECT_EQ(text::leadingNumber(u"\n42"), 0.0);
    EXPECT_EQ(text::leadingNumber(u"3.5.1"), 3.5);
    EXPECT_EQ(text::leadingNumber(u"+7"), 7.0);
    EXPECT_EQ(text::leadingNumber(u"-"), 0.0);
    EXPECT_EQ(text::leadingNumberSkippingSpace(u"\n\t 1 2x"), 12.0);
    EXPECT_EQ(text::leadingNumberSkippingSpace(u""), 0.0);
}

TEST(TextRules, RoundsTiesToEven) {
    EXPECT_EQ(text::roundHalfEven(0.125), 0.12);
    EXPECT_EQ(text::roundHalfEven(0.375), 0.38);
    EXPECT_EQ(text::roundHalfEven(-0.125), -0.12);
    EXPECT_EQ(text::roundHalfEven(2.675), 2.68);
    EXPECT_EQ(text::roundHalfEven(0.1251), 0.13);
    EXPECT_EQ(text::roundHalfEven(0.995), 1.0);
    EXPECT_EQ(text::roundHalfEven(1.5, 0), 2.0);
    EXPECT_EQ(text::roundHalfEven(2.5, 0), 2.0);
    EXPECT_EQ(text::roundHalfEven(-0.001), 0.0);
    EXPECT_EQ(text::fixed2(0.125), "0.12");
    EXPECT_EQ(text::fixed2(-1.0), "-1.00");
}

TEST(TextRules, RoundingHugeValuesKeepsThem) {
    // Scaling by the decimals used to overflow to infinity ("inf" in a grid cell).
    EXPECT_EQ(text::roundHalfEven(1.251e307, 13), 1.251e307);
    EXPECT_EQ(text::roundHalfEven(-1.7e308), -1.7e308);
    EXPECT_EQ(text::fixed2(1e300).left(5), "10000");
    EXPECT_TRUE(text::fixed2(1e300).endsWith(".00"));
    EXPECT_EQ(text::roundHalfEven(1e20, 2), 1e20);
    EXPECT_EQ(text::roundHalfEven(1.234e-20, 2), 0.0);
}

TEST(TextRules, PlainDecimal) {
    EXPECT_EQ(text::plainDecimal(0.1 + 0.2), "0.3");
    EXPECT_EQ(text::plainDecimal(1234567.25), "1234567.25");
    EXPECT_EQ(text::plainDecimal(0.00001), "0.00001");
    EXPECT_EQ(text::plainDecimal(-0.0), "0");
}

TEST(TextRules, DateTexts) {
    using text::parseDateTime;
    const QDateTime oct9(QDate(2022, 10, 9), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(parseDateTime(u"2022-10-09"), oct9);
    EXPECT_EQ(parseDateTime(u"2022/10/9"), oct9);
    EXPECT_EQ(parseDateTime(u"22-10-9"), oct9);
    EXPECT_EQ(parseDateTime(u"99/1/2")->date(), QDate(1999, 1, 2));
    EXPECT_EQ(parseDateTime(u"2022-10-9 9:05:07")->time(), QTime(9, 5, 7));
    EXPECT_FALSE(parseDateTime(u"2022-13-01"));
    EXPECT_FALSE(parseDateTime(u"2022-02-30"));
    EXPECT_FALSE(parseDateTime(u"10-09 15:30"));
    EXPECT_FALSE(parseDateTime(u"2022-10-09 25:00"));
    EXPECT_EQ(text::parseMonthDay(u"12-31 20:00", 2022), QDateTime(QDate(2022, 12, 31), QTime(20, 0), Qt::UTC));
    EXPECT_EQ(text::displayDateTime(QDateTime(QDate(2022, 1, 2), QTime(3, 4), Qt::UTC)), "2022-01-02 03:04");
}

TEST(ValueJson, Forms) {
    EXPECT_TRUE(toJson(Value()).isNull());
    EXPECT_EQ(toJson(Value(u"x")).toString(), "x");
    EXPECT_EQ(toJson(Value(1.5)).toDouble(), 1.5);
    EXPECT_EQ(toJson(Value(QDateTime(QDate(2022, 1, 2), QTime(0, 0), Qt::UTC))).toString(), "2022-01-02 00:00:00");
    Table t(2, 1);
    t.set(1, 0, Value(u"b"));
    EXPECT_EQ(toJson(t).toArray()[0].toArray()[1].toString(), "b");
    EXPECT_TRUE(toJson(Table()).isNull());
}
