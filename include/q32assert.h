/*
 * q32assert.h - Q32_STATIC_ASSERT, the compile-time layout check of the kit's records, in
 * C99, C11 and C++ alike. Included by q32types.h and q32fio.h.
 */
#ifndef Q32ASSERT_H
#define Q32ASSERT_H

#if defined(__cplusplus) && __cplusplus >= 201103L
#define Q32_STATIC_ASSERT(condition, text) static_assert(condition, text)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define Q32_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#else
#define Q32_STATIC_ASSERT_JOIN2(a, b) a##b
#define Q32_STATIC_ASSERT_JOIN(a, b) Q32_STATIC_ASSERT_JOIN2(a, b)
#define Q32_STATIC_ASSERT(condition, text) \
    typedef char Q32_STATIC_ASSERT_JOIN(q32_static_assert_, __COUNTER__)[(condition) ? 1 : -1]
#endif

/* The records' numbers (DWORD, LONG, uint32_t) are 32-bit. */
Q32_STATIC_ASSERT(sizeof(unsigned int) == 4, "32-bit numbers");

#endif
