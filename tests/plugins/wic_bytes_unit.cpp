/* The imaging-component plug-in's byte-level helpers. */
#include <gtest/gtest.h>
#include "wic_bytes.h"

using namespace wic;

TEST(WicBytes, Placeholder) { EXPECT_TRUE(true); }
