// Marks a function taking a printf format so that the compiler checks every call's arguments:
// TAPWRIGHT_PRINTF(format index, index of the first argument), counted from 1.
#pragma once

#ifdef __MINGW32__
// MinGW's plain printf checking is the MS flavour.
#define TAPWRIGHT_PRINTF(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define TAPWRIGHT_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#endif
