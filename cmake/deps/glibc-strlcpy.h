/* strlcpy for OpenWrt sources built against a glibc without it (cmake/deps/openwrt-glibc.cmake).
 * Nothing is included here, so that a source's own feature macros still come first; its callers
 * include <stdio.h>. */
#ifndef strlcpy
#define strlcpy(d, s, n) snprintf((d), (n), "%s", (s))
#endif
