/* The two metadata records of a kivos command, read from the executable by
 * the host's tools (kivmeta) without running it. At file scope, once per
 * program:
 *
 *     KIVOS_COMMAND("Say hello.", "hello");   description, command name
 *     KIVOS_PACKAGE("hello", "1");            package name, its second string
 *
 * Each record is a 4-byte magic ("KCMD", "KPKG"), the version 1 as a 32-bit
 * little-endian word and NUL-terminated strings up to an empty one. The
 * arguments must be string literals: they are joined into the record at
 * compile time. The objects are g_cmdmeta_0 and g_pkgmeta_0, in sections
 * .kivos.cmdmeta (aligned to 32) and .kivos.pkgmeta (aligned to 4), which
 * the link keeps although no code refers to them. */
#ifndef KIVOS_META_H
#define KIVOS_META_H

#ifdef __cplusplus
#define KIVOS_META_LINKAGE_ extern "C"
#else
#define KIVOS_META_LINKAGE_
#endif

#define KIVOS_META_RECORD_(object, section_name, alignment, magic, strings)                                          \
    KIVOS_META_LINKAGE_ __attribute__((used, section(section_name), aligned(alignment))) const char object[] = magic \
        "\x01\0\0\0" strings

#define KIVOS_COMMAND(description, name) \
    KIVOS_META_RECORD_(g_cmdmeta_0, ".kivos.cmdmeta", 32, "KCMD", description "\0" name "\0")

#define KIVOS_PACKAGE(name, version) \
    KIVOS_META_RECORD_(g_pkgmeta_0, ".kivos.pkgmeta", 4, "KPKG", name "\0" version "\0")

#endif
