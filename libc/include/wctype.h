/* Wide-character classes and mappings (the kit's extension), for the "C"
 * locale: a wide character below 128 is classed and mapped as ctype.h does
 * its byte; every other value is in no class and maps to itself. */
#ifndef KIV_WCTYPE_H
#define KIV_WCTYPE_H

#include "kivos/wide_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long wctype_t;
typedef const int *wctrans_t;

int iswalnum(wint_t wc);
int iswalpha(wint_t wc);
int iswblank(wint_t wc);
int iswcntrl(wint_t wc);
int iswdigit(wint_t wc);
int iswgraph(wint_t wc);
int iswlower(wint_t wc);
int iswprint(wint_t wc);
int iswpunct(wint_t wc);
int iswspace(wint_t wc);
int iswupper(wint_t wc);
int iswxdigit(wint_t wc);
/* The class names are ctype.h's without "is": "alpha", "digit", ...; an
 * unknown name gives 0, which iswctype answers with 0. */
wctype_t wctype(const char *name);
int iswctype(wint_t wc, wctype_t class_id);
wint_t towlower(wint_t wc);
wint_t towupper(wint_t wc);
/* "tolower" and "toupper"; an unknown name gives null, which towctrans
 * answers with the character unchanged. */
wctrans_t wctrans(const char *name);
wint_t towctrans(wint_t wc, wctrans_t mapping);

#ifdef __cplusplus
}
#endif

#endif
