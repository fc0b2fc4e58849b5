/* g++'s C++ library headers take their configuration from a C library's
 * <features.h>; this answers their one question for the kivos library: it
 * is no glibc, of any version. Seen by C++ programs only (kivos-c++). */
#ifndef KIV_CXX_FEATURES_H
#define KIV_CXX_FEATURES_H

#define __GLIBC_PREREQ(major, minor) 0

#endif
