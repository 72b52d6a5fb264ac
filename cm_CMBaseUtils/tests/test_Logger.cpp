#include <gtest/gtest.h>
#include "Logger.h"
TEST(Logger, placeholder) { EXPECT_NE(CLogger::GetInstance(), nullptr); }
