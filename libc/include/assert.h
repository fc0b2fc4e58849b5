/* Assertions (the kit's extension). A failed assert writes
 *     FILE:LINE: FUNCTION: Assertion `EXPRESSION' failed.
 * on descriptor 2 and ends the process as abort does. With NDEBUG defined
 * where this header is included, assert evaluates nothing; the header may
 * be included again to follow a changed NDEBUG. */
#ifndef KIV_ISO_ASSERT_H
#define KIV_ISO_ASSERT_H

#ifdef __cplusplus
extern "C" {
#endif

__attribute__((noreturn)) void __assert_fail(const char *expression, const char *file, unsigned int line,
                                             const char *function);

#ifdef __cplusplus
}
#endif

#if !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L && __STDC_VERSION__ < 202311L
#define static_assert _Static_assert
#endif

#endif

#undef assert
#ifdef NDEBUG
#define assert(expression) ((void)0)
#else
#define assert(expression) \
    ((expression) ? (void)0 : __assert_fail(#expression, __FILE__, __LINE__, __extension__ __PRETTY_FUNCTION__))
#endif
