/* Naming the failing row of a table-driven guest test: remember the failure
 * count before the row's checks, then name the row if it grew. */
#ifndef KIV_GUEST_CHECK_CASE_H
#define KIV_GUEST_CHECK_CASE_H

#include "check.h"

static inline void check_case_end(int failures_before, const char *name) {
    if (g_check_failures != failures_before) {
        check_say("  in case: ");
        check_say(name);
        check_say("\n");
    }
}

#endif
