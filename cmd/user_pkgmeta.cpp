// The package record the host's tools read from the file.
#include <kivos/meta.h>

KIVOS_PACKAGE("nicsounder", "3");
static_assert(sizeof(g_pkgmeta_0) == 22);
