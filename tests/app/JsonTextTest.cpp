#include "bus/JsonText.h"
#include "bus/ScenarioErrorCode.h"

#include <gtest/gtest.h>

using roamnode::flatJsonObject;
using roamnode::jsonQuote;
using roamnode::jsonString;

TEST(JsonQuote, KeepsJsonValuesAndQuotesEverythingElse)
{
    EXPECT_EQ(jsonQuote("\"already\""), "\"already\"");
    EXPECT_EQ(jsonQuote("{\"a\": 1}"), "{\"a\": 1}");
    EXPECT_EQ(jsonQuote("[1, 2]"), "[1, 2]");
    EXPECT_EQ(jsonQuote("lab"), "\"lab\"");
    EXPECT_EQ(jsonQuote(""), "\"\"");
    EXPECT_EQ(jsonQuote("\""), "\"\\\"\"");
    EXPECT_EQ(jsonQuote("{"), "\"{\"");
}

TEST(JsonQuote, EscapesTheSevenCharactersOnly)
{
    EXPECT_EQ(jsonQuote("a\\b\"c\td\be\rf\ng\fh"), "\"a\\\\b\\\"c\\td\\be\\rf\\ng\\fh\"");
    // Other control bytes pass unchanged through jsonQuote but not through jsonString.
    EXPECT_EQ(jsonQuote(std::string("x\x01y")), std::string("\"x\x01y\""));
    EXPECT_EQ(jsonString(std::string("x\x01y")), "\"x\\u0001y\"");
    EXPECT_EQ(jsonString("{a}"), "\"{a}\"");
    // Well-formed UTF-8 passes; stray, truncated, overlong and surrogate bytes become U+FFFD.
    EXPECT_EQ(jsonString("a\xff"
                         "b\xc3\xa9"
                         "\xe2\x82"),
              "\"a\\ufffdb\xc3\xa9\\ufffd\\ufffd\"");
    EXPECT_EQ(jsonString("\xc0\xaf\xed\xa0\x80\xf0\x9f\x98\x80"),
              "\"\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\xf0\x9f\x98\x80\"");
}

TEST(FlatJsonObject, WritesMembersInByteOrder)
{
    EXPECT_EQ(flatJsonObject({}), "{}");
    EXPECT_EQ(
        flatJsonObject({{"ssid", "\"lab\""}, {"status", "\"success\""}, {"batterylevel", "87.5"}}),
        "{\"batterylevel\": 87.5, \"ssid\": \"lab\", \"status\": \"success\"}");
}

TEST(ScenarioErrorText, KnownUnknownAndSuccess)
{
    EXPECT_EQ(scenarioErrorText(0), "");
    EXPECT_EQ(scenarioErrorText(1), "Error in <scenariodescription>: Invalid JSON");
    EXPECT_EQ(scenarioErrorText(12), "Error in <scenariodescription>: <httpmethod> value for TCP "
                                     "flow can only be \"get\" or \"put\"");
    EXPECT_EQ(scenarioErrorText(49), "Error in <debuglevel>: Invalid value");
    EXPECT_EQ(scenarioErrorText(-3), "Unknown error");
    EXPECT_EQ(scenarioErrorText(100000), "Unknown error");
}
