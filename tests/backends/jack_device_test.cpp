#include <gtest/gtest.h>
TEST(JackPlaceholder, Nothing) {}
