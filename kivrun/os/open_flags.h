// open()'s flags and lseek's origins: kivos's values, the host's and their
// names, for the handlers and the trace alike.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include "kiv_open.h"
#include "support/flag_table.h"

namespace kiv {

// Indexed by the access mode (flags & KIV_O_ACCMODE); the fourth mode is
// no mode at all.
inline constexpr FlagRow kAccessModes[] = {
    {KIV_O_RDONLY, O_RDONLY, "O_RDONLY"}, {KIV_O_WRONLY, O_WRONLY, "O_WRONLY"}, {KIV_O_RDWR, O_RDWR, "O_RDWR"}};
static_assert(KIV_O_RDONLY == 0 && KIV_O_WRONLY == 1 && KIV_O_RDWR == 2, "access modes index kAccessModes");

inline constexpr FlagRow kOpenFlags[] = {{KIV_O_CREAT, O_CREAT, "O_CREAT"},
                                         {KIV_O_EXCL, O_EXCL, "O_EXCL"},
                                         {KIV_O_TRUNC, O_TRUNC, "O_TRUNC"},
                                         {KIV_O_APPEND, O_APPEND, "O_APPEND"}};

// Indexed by lseek's origin argument.
inline constexpr FlagRow kWhence[] = {{0, SEEK_SET, "SEEK_SET"}, {1, SEEK_CUR, "SEEK_CUR"}, {2, SEEK_END, "SEEK_END"}};

}  // namespace kiv
