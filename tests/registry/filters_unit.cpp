/* The six leading patterns of the all-formats pattern. */
#include <gtest/gtest.h>
#include "registry/registry.h"

namespace {

TEST(BringPatternsForward, MovesWholePatternsInTurn)
{
    const struct { const char *before, *after; } cases[] = {
        {"", ""},
        {"*.AAA;*.BMP", "*.BMP;*.AAA"},                    /* last pattern, no ';' after it */
        {"*.AAA;*.GIF;*.BMP", "*.BMP;*.GIF;*.AAA"},
        {"*.QFO;*.TIF;*.PNG;*.JPG;*.GIF;*.BMP", "*.BMP;*.GIF;*.JPG;*.PNG;*.TIF;*.QFO"},
        {"*.BMP;*.JPG", "*.JPG;*.BMP"},                    /* one at the front leaves the front */
        {"*.BMP2;*.AAA", "*.BMP2;*.AAA"},                  /* only whole patterns */
        {"*.AAA;*.BMP2;*.BMP", "*.BMP;*.AAA;*.BMP2"},
        {"*.bmp;*.BMP", "*.BMP;*.bmp"},                    /* case counts */
        {"*.AAA;*.JPG;*.JPG", "*.JPG;*.AAA;*.JPG"},        /* the first one moves */
        {"*.AAA;*.PNG;", "*.PNG;*.AAA;"},                  /* a final ';' stays final */
    };
    for (const auto &c : cases) {
        std::string text = c.before;
        BringPatternsForward(text);
        EXPECT_EQ(c.after, text) << c.before;
    }
}

} // namespace
