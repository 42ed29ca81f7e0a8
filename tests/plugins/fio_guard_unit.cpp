/*
 * The shipped plug-ins' entry guard: an exception thrown inside an entry never leaves
 * it. Running out of memory is recorded as 1004, anything else as 4026, at the entry's
 * place, and the entry answers its failure value.
 */
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>
#include "fio_support.h"
#include "q32comm.h"

TEST(FioGuard, ExceptionsBecomeRecordedFailures)
{
    struct Case {
        int thrown; /* 0 none, 1 bad_alloc, 2 runtime_error, 3 an int */
        UINT error;
        INT_PTR result;
    } cases[] = {{0, 0, 7}, {1, fio::ErrNoMemory, -1}, {2, fio::ErrCannot, -1}, {3, fio::ErrCannot, -1}};
    for (const Case &c : cases) {
        c32ResetDLLErrInfo();
        INT_PTR result = fio::Guarded(1708, 12, 99, INT_PTR(-1), [&]() -> INT_PTR {
            if (c.thrown == 1) throw std::bad_alloc();
            if (c.thrown == 2) throw std::runtime_error("parser");
            if (c.thrown == 3) throw 3;
            return 7;
        });
        EXPECT_EQ(c.result, result) << c.thrown;
        int zero = 0, plugin = 0, entry = 0, place = 0;
        UINT id = 0;
        EXPECT_EQ(c.error, c32GetDLLErrorInfo(nullptr, &id, &zero, &plugin, &entry, &place)) << c.thrown;
        if (c.error) {
            EXPECT_EQ((std::vector<int>{1708, 12, 99}), (std::vector<int>{plugin, entry, place})) << c.thrown;
        }
    }
}
