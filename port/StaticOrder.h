// The order in which the process-wide objects are built, whatever order the linker gives their
// files; they are torn down in the reverse order. GCC and Clang (MinGW included) honour
// init_priority; objects without it are built after all of these.
//   1. the port driver and its device: the link's closing at exit still talks through them;
//   2. theApp, then g_link;
//   3. g_settings, without a priority: built after the link, it is saved first at exit, and it
//      may warn on the standard streams, which its own file has set up by then.
#pragma once

enum : int { kBuildPortState = 1000, kBuildApp = 1100, kBuildLink = 1200 };

#define TAPWRIGHT_BUILT_AT(rank) __attribute__((init_priority(rank)))
