/* The wide-character types shared by wchar.h and wctype.h (the kit's
 * extension). wchar_t and wint_t are the compiler's (32 bits). */
#ifndef KIVOS_WIDE_TYPES_H
#define KIVOS_WIDE_TYPES_H

#define __need_wchar_t
#define __need_wint_t
#include <stddef.h>

#ifndef WEOF
#define WEOF ((wint_t)0xffffffffu)
#endif

#endif
