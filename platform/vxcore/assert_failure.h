#pragma once

// Assertions that report and go on: a failed internal check writes one level-1 line to the
// debug log (tal_debug.h) and execution continues; nothing stops the process.

// When set, no assertion is reported anywhere.
extern bool IgnoreAllAsserts_G;

// Reports that `expression` failed at `file`:`line`, unless IgnoreAllAsserts_G or the site's
// own flag `*ignoreThisSite` is set (a null pointer counts as not set). The flag belongs to
// the call site so that a debugger or the caller can silence one noisy check.
void ProcessAssertFailure_G(const char* file, int line, const char* expression,
                            bool* ignoreThisSite);

#define VX_ASSERT(expr)                                                     \
  do {                                                                      \
    if (!(expr)) {                                                          \
      static bool vxIgnoreThisSite = false;                                 \
      ProcessAssertFailure_G(__FILE__, __LINE__, #expr, &vxIgnoreThisSite); \
    }                                                                       \
  } while (false)
