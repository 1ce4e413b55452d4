#pragma once

// The one writer of standard output. Wide and 8-bit prints both end up as bytes in the same
// sink, so their order is kept; wprintf and printf on one C stream would instead fix the
// stream's width at its first use and lose the other kind.

#include <cstddef>
#include <string_view>

namespace core {

// Receives the bytes of each print, one call per print.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void Write(const char* data, size_t size) = 0;
};

// Routes every later print to `sink` (not owned; it must outlive its use) and returns the
// previous one. Null, the default, writes to file descriptor 1 through a buffer that is
// written out when it fills, at FlushOutput() and at normal process exit, so that a long
// listing costs a few writes rather than one per line; what a full pipe cannot take at once
// is held until FlushOutput() or the exit, so that no write waits for a slow reader while
// the run still reads the store.
OutputSink* SetOutputSink(OutputSink* sink);

// Writes out what the standard-output buffer holds.
void FlushOutput();

// The error (an errno) of the first write to standard output that failed, so
// that some output was lost; 0 while all of it went out.
int OutputError();

// Formats with the wide formatter (see wide_format.h: "%s" takes const wchar_t*), narrows the
// result byte by byte like AString::ASCII and writes it.
void PrintWide(const wchar_t* format, ...);

// Writes `bytes` as they are.
void PrintBytes(std::string_view bytes);

// Formats with vsnprintf ("%s" takes const char*) and writes the bytes.
void PrintNarrow(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace core
