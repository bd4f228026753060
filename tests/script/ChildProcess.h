// Runs a piece of a test in a child process, for cases that would take the
// whole test binary down (an interpreter panic ends the process) or hang it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

// Expects `body` to finish in a child process within `seconds` and to return
// "" (anything else is the failure, shown with the child's standard error).
// A panic, a crash or a hang fails the expectation.
#define EXPECT_SURVIVES_IN_CHILD(seconds, body)                                   \
  EXPECT_EXIT(                                                                     \
      {                                                                            \
        ::alarm(seconds);                                                          \
        const std::string failure_ = (body)();                                     \
        if (!failure_.empty()) std::fprintf(stderr, "failed: %s\n", failure_.c_str()); \
        std::fflush(stderr);                                                       \
        ::_exit(failure_.empty() ? 0 : 1);                                         \
      },                                                                           \
      ::testing::ExitedWithCode(0), "")
