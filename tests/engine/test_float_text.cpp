#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "common/float_text.hpp"

using tamlor::text::fixed;
using tamlor::text::shortest;

namespace {

struct Case {
    double value;
    const char* text;
};

TEST(FloatText, ShortestPositional) {
    const Case cases[] = {
        {1.0, "1"},
        {0.25, "0.25"},
        {440.0, "440"},
        {0.1, "0.1"},
        {-1.5, "-1.5"},
        {1e20, "100000000000000000000"},
        {1180591620717411303424.0, "1180591620717411300000"},  // 2**70
        {1e-7, "0.0000001"},
        {123456.789, "123456.789"},
        {0.000123, "0.000123"},
        {-0.0, "-0"},
        {0.0, "0"},
        {1e16, "10000000000000000"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const Case& c : cases) EXPECT_EQ(shortest(c.value), c.text) << c.value;
}

TEST(FloatText, LargestFiniteIsWrittenOut) {
    EXPECT_EQ(shortest(1.7976931348623157e308), "17976931348623157" + std::string(292, '0'));
}

TEST(FloatText, SmallestSubnormalIsWrittenOut) {
    const std::string s = shortest(5e-324);
    EXPECT_EQ(s, "0." + std::string(323, '0') + "5");
}

TEST(FloatText, ShortestReadsBack) {
    const double values[] = {0.1 + 0.2, 1.0 / 3.0, 2.0 / 3.0, 6.02214076e23, 1.602e-19,
                             133.333, 9007199254740993.0, 4.9406564584124654e-320};
    for (double v : values) EXPECT_EQ(std::strtod(shortest(v).c_str(), nullptr), v) << shortest(v);
}

TEST(FloatText, FixedDecimals) {
    EXPECT_EQ(fixed(120.0, 1), "120.0");
    EXPECT_EQ(fixed(0.0, 3), "0.000");
    EXPECT_EQ(fixed(133.333, 1), "133.3");
    EXPECT_EQ(fixed(1.23456, 3), "1.235");
    EXPECT_EQ(fixed(0.25, 3), "0.250");
    EXPECT_EQ(fixed(-0.0, 1), "-0.0");
    EXPECT_EQ(fixed(1e20, 1), "100000000000000000000.0");
    EXPECT_EQ(fixed(std::nan(""), 1), "NaN");
    EXPECT_EQ(fixed(std::numeric_limits<double>::infinity(), 3), "inf");
    EXPECT_EQ(fixed(-std::numeric_limits<double>::infinity(), 1), "-inf");
}

}  // namespace
