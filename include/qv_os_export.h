// Export macro for the qv_os shared library.
#pragma once

#if defined(_WIN32)
#if defined(QV_OS_STATIC)
#define QV_OS_API
#elif defined(QV_OS_BUILDING)
#define QV_OS_API __declspec(dllexport)
#else
#define QV_OS_API __declspec(dllimport)
#endif
#else
#define QV_OS_API __attribute__((visibility("default")))
#endif

// printf-style argument checking for the library's formatting entry points.
#if defined(__MINGW32__)
#define QV_OS_PRINTF(fmtIndex, firstArg) __attribute__((format(gnu_printf, fmtIndex, firstArg)))
#elif defined(__GNUC__)
#define QV_OS_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define QV_OS_PRINTF(fmtIndex, firstArg)
#endif
