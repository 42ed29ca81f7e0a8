/* The imaging base library's row conversions. Each output is checked in full, and the
   byte after it is poisoned to catch a write past the end. */
#include <gtest/gtest.h>
#include "q32base.h"
#include <vector>

namespace {

const BYTE Poison = 0xCC;
using Bytes = std::vector<BYTE>;

/* A destination of n bytes plus guard bytes. */
Bytes Dest(size_t n) { return Bytes(n + 8, Poison); }

void ExpectGuard(const Bytes &dest, size_t used)
{
    for (size_t i = used; i < dest.size(); i++) EXPECT_EQ(Poison, dest[i]) << "guard byte " << i;
}

TEST(BitToByte, ExpandsTopBitFirst)
{
    const Bytes row = {0xA5, 0xC0};
    const struct { int count; Bytes blackWhite, indices; } cases[] = {
        {1, {255}, {1}},
        {8, {255, 0, 255, 0, 0, 255, 0, 255}, {1, 0, 1, 0, 0, 1, 0, 1}},
        {10, {255, 0, 255, 0, 0, 255, 0, 255, 255, 255}, {1, 0, 1, 0, 0, 1, 0, 1, 1, 1}},
        {0, {}, {}},
    };
    for (const auto &c : cases) {
        Bytes out = Dest(c.count);
        mem32BitToByte(out.data(), row.data(), c.count);
        EXPECT_EQ(c.blackWhite, Bytes(out.begin(), out.begin() + c.count)) << c.count;
        ExpectGuard(out, c.count);

        out = Dest(c.count);
        mem32BitToByteExt(out.data(), row.data(), c.count);
        EXPECT_EQ(c.indices, Bytes(out.begin(), out.begin() + c.count)) << c.count;
        ExpectGuard(out, c.count);
    }
}

TEST(BitReduce, KeepsEveryStepthPixel)
{
    /* pixels: 1 0 1 1 0 0 1 0 | 1 1 1 0 0 0 0 1 | 1 */
    const Bytes row = {0xB2, 0xE1, 0x80};
    const struct { int count, step; Bytes expected; } cases[] = {
        {17, 1, {0xB2, 0xE1, 0x80}},
        {17, 2, {0xDC, 0x80}},   /* 0,2,4,6,8,10,12,14,16 -> 1 1 0 1 1 1 0 0 1 */
        {17, 3, {0xF4}},         /* 0,3,6,9,12,15 -> 1 1 1 1 0 1 */
        {17, 16, {0xC0}},        /* 0,16 -> 1 1 */
        {17, 17, {0x80}},
        {17, 100, {0x80}},
    };
    for (const auto &c : cases) {
        Bytes out = Dest(c.expected.size());
        mem32BitReduce(out.data(), row.data(), c.count, c.step);
        EXPECT_EQ(c.expected, Bytes(out.begin(), out.begin() + c.expected.size()))
            << "step " << c.step;
        ExpectGuard(out, c.expected.size());
    }
}

TEST(Reduce, KeepsEveryStepthPixelOfAnySize)
{
    for (int bpp : {1, 2, 3, 4, 6}) {
        for (int step : {1, 2, 3, 7}) {
            const int count = 11;
            Bytes row(count * bpp);
            for (size_t i = 0; i < row.size(); i++) row[i] = (BYTE)i;
            const int kept = (count + step - 1) / step;

            Bytes expected;
            for (int p = 0; p < count; p += step)
                expected.insert(expected.end(), row.begin() + p * bpp, row.begin() + (p + 1) * bpp);
            ASSERT_EQ((size_t)kept * bpp, expected.size());

            Bytes out = Dest(expected.size());
            mem32Reduce(out.data(), row.data(), count, step, bpp, 0);
            EXPECT_EQ(expected, Bytes(out.begin(), out.begin() + expected.size()))
                << "bpp " << bpp << " step " << step;
            ExpectGuard(out, expected.size());

            Bytes ext = Dest(expected.size());
            mem32ReduceExt(ext.data(), row.data(), count, 1, step, step, bpp, 0);
            EXPECT_EQ(out, ext) << "bpp " << bpp << " step " << step;
        }
    }
}

TEST(Fill, RepeatsThePixelBytes)
{
    const struct { int bpp, count; DWORD pixel; Bytes expected; } cases[] = {
        {1, 3, 0x000000AB, {0xAB, 0xAB, 0xAB}},
        {3, 2, 0x00332211, {0x11, 0x22, 0x33, 0x11, 0x22, 0x33}},
        {4, 1, 0x44332211, {0x11, 0x22, 0x33, 0x44}},
        {2, 0, 0x2211, {}},
    };
    for (const auto &c : cases) {
        Bytes out = Dest(c.expected.size());
        mem32Fill(out.data(), c.pixel, c.bpp, c.count);
        EXPECT_EQ(c.expected, Bytes(out.begin(), out.begin() + c.expected.size())) << c.bpp;
        ExpectGuard(out, c.expected.size());
    }
}

TEST(Rows, BadArgumentsWriteNothing)
{
    Bytes row(16, 0xFF);
    Bytes out = Dest(0);
    mem32BitToByte(out.data(), row.data(), -5);
    mem32BitReduce(out.data(), row.data(), 8, 0);
    mem32Reduce(out.data(), row.data(), 8, 0, 3, 0);
    mem32Reduce(out.data(), row.data(), 8, 1, 0, 0);
    mem32Fill(out.data(), 0, 5, 4);
    mem32BitToByte(nullptr, row.data(), 8);
    ExpectGuard(out, 0);
}

} // namespace
