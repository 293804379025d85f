#include "platform/keyedarchive/value.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace vexa::archive;

TEST(Value, EqualityComparesKindAndContent) {
    EXPECT_EQ(Value(1), Value(std::int64_t{1}));
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(1), Value(true));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_NE(Value(Data{1}), Value(Array{1}));
    EXPECT_EQ(Value(std::nan("")), Value(std::nan("")));
    EXPECT_NE(Value(0.0), Value(-0.0));
    EXPECT_EQ(Value(Dictionary{{"a", Array{1, "x"}}}), Value(Dictionary{{"a", Array{1, "x"}}}));
    EXPECT_NE(Value(Dictionary{{"a", Array{1, "x"}}}), Value(Dictionary{{"a", Array{1, "y"}}}));
}

TEST(Dictionary, SetReplacesAndEraseRemoves) {
    Dictionary d{{"a", 1}};
    d.set("a", "text");
    d.set("b", Data{1, 2});
    ASSERT_NE(d.find("a"), nullptr);
    EXPECT_EQ(*d.find("a"), Value("text"));
    EXPECT_EQ(d.size(), 2u);
    EXPECT_TRUE(d.erase("a"));
    EXPECT_FALSE(d.erase("a"));
    EXPECT_EQ(d.find("a"), nullptr);
    EXPECT_EQ(d.size(), 1u);
}

}  // namespace
