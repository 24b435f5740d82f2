// Minimal checks for the programs that run under Wine: each failed check prints where
// and what, the run goes on, and check_summary() prints the count line and the exit code.
#pragma once

#include <stdio.h>

inline int g_checks_passed = 0;
inline int g_checks_failed = 0;

#define CHECK(cond)                                                              \
  do {                                                                           \
    if (cond) {                                                                  \
      ++g_checks_passed;                                                         \
    } else {                                                                     \
      ++g_checks_failed;                                                         \
      printf("FAILED %s:%d: %s\n", __FILE__, __LINE__, #cond);                   \
      fflush(stdout);                                                            \
    }                                                                            \
  } while (0)

#define CHECK_EQ(a, b)                                                           \
  do {                                                                           \
    long long check_a_ = (long long)(a), check_b_ = (long long)(b);              \
    if (check_a_ == check_b_) {                                                  \
      ++g_checks_passed;                                                         \
    } else {                                                                     \
      ++g_checks_failed;                                                         \
      printf("FAILED %s:%d: %s == %s (%lld vs %lld)\n", __FILE__, __LINE__, #a,  \
             #b, check_a_, check_b_);                                            \
      fflush(stdout);                                                            \
    }                                                                            \
  } while (0)

// Prints "N passed, M failed" and returns the process exit code.
inline int check_summary(const char* name) {
  printf("%s: %d passed, %d failed\n", name, g_checks_passed, g_checks_failed);
  fflush(stdout);
  return g_checks_failed == 0 ? 0 : 1;
}
