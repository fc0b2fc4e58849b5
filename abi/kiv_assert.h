/* Compile-time checks of record layouts that hold in C and C++ alike. */
#ifndef KIV_ASSERT_H
#define KIV_ASSERT_H

#ifdef __cplusplus
#define KIV_STATIC_ASSERT static_assert
#else
#define KIV_STATIC_ASSERT _Static_assert
#endif

#endif
