/* Locales (the kit's extension): only "C" exists, under that name, "POSIX"
 * and "" (the default, which is "C"). */
#ifndef KIV_LOCALE_H
#define KIV_LOCALE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LC_CTYPE 0
#define LC_NUMERIC 1
#define LC_TIME 2
#define LC_COLLATE 3
#define LC_MONETARY 4
#define LC_MESSAGES 5
#define LC_ALL 6

/* The numeric and monetary conventions; in the "C" locale the texts are
 * empty except decimal_point (".") and the numbers are CHAR_MAX. */
struct lconv {
    char *decimal_point;
    char *thousands_sep;
    char *grouping;
    char *int_curr_symbol;
    char *currency_symbol;
    char *mon_decimal_point;
    char *mon_thousands_sep;
    char *mon_grouping;
    char *positive_sign;
    char *negative_sign;
    char int_frac_digits;
    char frac_digits;
    char p_cs_precedes;
    char p_sep_by_space;
    char n_cs_precedes;
    char n_sep_by_space;
    char p_sign_posn;
    char n_sign_posn;
    char int_p_cs_precedes;
    char int_p_sep_by_space;
    char int_n_cs_precedes;
    char int_n_sep_by_space;
    char int_p_sign_posn;
    char int_n_sign_posn;
};

/* POSIX's handle of a locale object; the kit has no functions that take
 * one. g++'s C++ library names it by its older name. */
typedef struct kiv_locale *locale_t;
#ifdef __cplusplus
typedef locale_t __locale_t;
#endif

char *setlocale(int category, const char *locale);
struct lconv *localeconv(void);

#ifdef __cplusplus
}
#endif

#endif
