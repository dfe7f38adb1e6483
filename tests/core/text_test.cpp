#include "core/text.hpp"

#include <gtest/gtest.h>

using namespace vaskit;

TEST(Text, Placeholder) { EXPECT_EQ(text::upper("ß"), "SS"); }
