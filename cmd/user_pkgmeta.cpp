// The package record the host's tools read from the file: magic, version 1
// (little endian), the package name and "3", ending in an empty string.
extern "C" __attribute__((used, section(".kivos.pkgmeta"), aligned(4))) const char g_pkgmeta_0[] =
    "KPKG" "\x01\0\0\0" "nicsounder\0" "3\0";
static_assert(sizeof(g_pkgmeta_0) == 22);
