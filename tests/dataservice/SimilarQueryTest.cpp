#include "SimilarQuery.h"

#include <gtest/gtest.h>

using namespace chenglan::dataservice;

namespace {

const char kClientQuery[] = "0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,2245911";

} // namespace

TEST(ParseSimilarQuery, ReadsTheClientsQueryText) {
    const auto parsed = parseSimilarQuery(kClientQuery);
    ASSERT_TRUE(parsed.query) << parsed.error.toStdString();
    EXPECT_EQ(parsed.query->strengths, (Strengths{35, -20, 40, -10, 50, 0, 45, 5}));
    EXPECT_EQ(parsed.query->code20, QStringLiteral("A31"));
    EXPECT_EQ(parsed.query->code10, QStringLiteral("D10"));
    EXPECT_EQ(parsed.query->excludedMatchId, 2245911);
}

TEST(ParseSimilarQuery, EmptyFieldsCountAsZeroAndAnEmptyIdExcludesNothing) {
    const auto parsed = parseSimilarQuery(",,,,,,,,,,");
    ASSERT_TRUE(parsed.query) << parsed.error.toStdString();
    EXPECT_EQ(parsed.query->strengths, Strengths{});
    EXPECT_TRUE(parsed.query->code20.isEmpty());
    EXPECT_FALSE(parsed.query->excludedMatchId);
}

TEST(HundredthsFromText, RoundsHalfToEvenOnTheDecimalText) {
    EXPECT_EQ(hundredthsFromText("0.125"), 12);
    EXPECT_EQ(hundredthsFromText("0.135"), 14);
    EXPECT_EQ(hundredthsFromText("0.1251"), 13);
    EXPECT_EQ(hundredthsFromText("1.005"), 100);
    EXPECT_EQ(hundredthsFromText("-0.375"), -38);
    EXPECT_EQ(hundredthsFromText("-2.25"), -225);
    EXPECT_EQ(hundredthsFromText("7"), 700);
    EXPECT_EQ(hundredthsFromText("0.999"), 100);
    EXPECT_EQ(hundredthsFromText("1000000"), 100000000);
    EXPECT_FALSE(hundredthsFromText("1000001"));
}

TEST(HundredthsFromNumber, AgreesWithTheText) {
    EXPECT_EQ(hundredthsFromNumber(0.125), 12);
    EXPECT_EQ(hundredthsFromNumber(0.35), 35);
    EXPECT_EQ(hundredthsFromNumber(-0.2), -20);
    EXPECT_FALSE(hundredthsFromNumber(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(hundredthsFromNumber(1e300));
}

TEST(HundredthsText, WritesThePlainDecimal) {
    EXPECT_EQ(hundredthsText(35), QStringLiteral("0.35"));
    EXPECT_EQ(hundredthsText(-20), QStringLiteral("-0.2"));
    EXPECT_EQ(hundredthsText(5), QStringLiteral("0.05"));
    EXPECT_EQ(hundredthsText(-500), QStringLiteral("-5"));
    EXPECT_EQ(hundredthsText(0), QStringLiteral("0"));
}

// Each of these is refused, with a reason that does not repeat the text.
TEST(ParseSimilarQuery, RefusesMalformedText) {
    const std::string longText = std::string(kClientQuery) + std::string(600, '0');
    const char *const bad[] = {
        // wrong field count
        "0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10",
        "0.35,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,1,",
        "",
        // not numbers
        "abc,-0.2,0.4,-0.1,0.5,0,0.45,0.05,A31,D10,1",
        "1e5,0,0,0,0,0,0,0,A31,D10,1",
        "0x10,0,0,0,0,0,0,0,A31,D10,1",
        "nan,0,0,0,0,0,0,0,A31,D10,1",
        "inf,0,0,0,0,0,0,0,A31,D10,1",
        " 1,0,0,0,0,0,0,0,A31,D10,1",
        "1.,0,0,0,0,0,0,0,A31,D10,1",
        ".5,0,0,0,0,0,0,0,A31,D10,1",
        "+1,0,0,0,0,0,0,0,A31,D10,1",
        "--1,0,0,0,0,0,0,0,A31,D10,1",
        "1.2.3,0,0,0,0,0,0,0,A31,D10,1",
        "99999999,0,0,0,0,0,0,0,A31,D10,1",
        // SQL metacharacters and quotes
        "0,0,0,0,0,0,0,0,A31,D10,1' OR '1'='1",
        "0,0,0,0,0,0,0,0,A31;DROP TABLE matches,D10,1",
        "0,0,0,0,0,0,0,0,\"A31\",D10,1",
        "0,0,0,0,0,0,0,0,A31,D10,1--",
        "0' OR 1=1--,0,0,0,0,0,0,0,A31,D10,1",
        // codes and ids
        "0,0,0,0,0,0,0,0,A31A31A31,D10,1",
        "0,0,0,0,0,0,0,0,A-1,D10,1",
        "0,0,0,0,0,0,0,0,A31,D10,-1",
        "0,0,0,0,0,0,0,0,A31,D10,1234567890123456789",
        // separators and characters the client never sends
        "0,0,0,0,0,0,0,0,A31,D10,1|2",
        "0,0,0,0,0,0,0,0,A31,D10\n,1",
        "0,0,0,0,0,0,0,0,\xe8\x8b\xb1,D10,1",
        longText.c_str(),
    };
    for (const char *text : bad) {
        const auto parsed = parseSimilarQuery(text);
        EXPECT_FALSE(parsed.query) << "accepted: " << text;
        EXPECT_FALSE(parsed.error.isEmpty());
        EXPECT_FALSE(parsed.error.contains(u'|'));
        EXPECT_FALSE(parsed.error.contains(u'\''));
    }
}

TEST(SimilarQueryFromParameters, TakesTheSqlParameterEncodedOrNot) {
    const auto raw = similarQueryFromParameters(std::string("sql=") + kClientQuery);
    const auto encoded =
        similarQueryFromParameters("sql=0.35%2C-0.2%2C0.4%2C-0.1%2C0.5%2C0%2C0.45%2C0.05%2CA31%2CD10%2C2245911");
    const auto amongOthers = similarQueryFromParameters(std::string("x=1&sql=") + kClientQuery + "&y=%zz");
    ASSERT_TRUE(raw.query);
    ASSERT_TRUE(encoded.query);
    ASSERT_TRUE(amongOthers.query);
    EXPECT_EQ(*raw.query, *encoded.query);
    EXPECT_EQ(*raw.query, *amongOthers.query);
}

TEST(SimilarQueryFromParameters, RefusesMissingRepeatedOrBadlyEncodedParameters) {
    for (const char *text :
         {"", "sq=1", "sql", "sql=1&sql=2", "sql=0%2,0,0,0,0,0,0,0,A31,D10,1", "sql=0%zz0,0,0,0,0,0,0,A31,D10,1",
          "sql=0,0,0,0,0,0,0,0,A31,D10,1%", "sql=0,0,0,0,0,0,0,0,A31,D10,1%27", "sql=0,0,0,0,0,0,0,0,A31,D10,%00"}) {
        const auto parsed = similarQueryFromParameters(text);
        EXPECT_FALSE(parsed.query) << "accepted: " << text;
    }
}

TEST(PercentDecode, DecodesEscapesStrictly) {
    EXPECT_EQ(percentDecode("a%2Cb%2cc+d"), std::optional<std::string>("a,b,c+d"));
    EXPECT_FALSE(percentDecode("%"));
    EXPECT_FALSE(percentDecode("%4"));
    EXPECT_FALSE(percentDecode("%G0"));
}
