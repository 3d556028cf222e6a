// Reading numbers out of field texts the way the original desktop framework does.
#include "base/NumberReading.h"

#include <QString>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

TEST(NumberReading, IntValueTakesTheLeadingInteger) {
    const std::pair<const char*, int> rows[] = {
        {"7.9", 7},
        {"-7.9", -7},
        {"  42abc", 42},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"1e3", 1},
        {"\n\t 12", 12},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"0x1F", 0},
        {"60", 60},
        {" - 5", 0},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(intValue(QString::fromUtf8(text)), expected) << text;
}

TEST(NumberReading, FloatValueTakesTheLeadingDecimalNumber) {
    const std::pair<const char*, float> rows[] = {
        {"7.9", 7.9f},   {"-10", -10.0f}, {".5", 0.5f},        {"5.", 5.0f},
        {"4.2.1", 4.2f}, {"1,5", 1.0f},   {"1e3", 1000.0f},    {"1E-2", 0.01f},
        {"1e", 1.0f},    {"1e+", 1.0f},   {"abc", 0.0f},       {"", 0.0f},
        {".", 0.0f},     {"-.", 0.0f},    {"  0.005", 0.005f}, {"\t-0.25x", -0.25f},
        {"inf", 0.0f},   {"nan", 0.0f},   {"0x10", 0.0f},      {"1e-60", 0.0f},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_FLOAT_EQ(floatValue(QString::fromUtf8(text)), expected) << text;
    EXPECT_TRUE(std::isinf(floatValue(u"1e39")));
    EXPECT_GT(floatValue(u"1e39"), 0);
    EXPECT_LT(floatValue(u"-1e400"), 0);
    EXPECT_TRUE(std::isinf(floatValue(u"-1e400")));
}

TEST(NumberReading, NothingDependsOnTheLocale) {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    const std::string previous = saved ? saved : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        std::setlocale(LC_NUMERIC, "C");
    EXPECT_FLOAT_EQ(floatValue(u"0.05"), 0.05f);
    EXPECT_FLOAT_EQ(floatValue(u"0,05"), 0.0f);
    std::setlocale(LC_ALL, previous.c_str());
}

TEST(NumberReading, PrintfFixedRoundsLikePrintfWhateverTheLocale) {
    const std::tuple<double, int, int, const char*> rows[] = {
        {0.25, 1, 0, "0.2"},  {0.35, 1, 0, "0.3"},
        {5.0, 1, 3, "5.0"},   {5.05, 1, 0, "5.0"},
        {12.5, 1, 3, "12.5"}, {-1.0, 1, 5, " -1.0"},
        {7.0, 1, 0, "7.0"},   {1e20, 1, 0, "100000000000000000000.0"},
    };
    for (const auto& [value, precision, width, expected] : rows)
        EXPECT_EQ(printfFixed(value, precision, width).toStdString(), expected) << value;
}
