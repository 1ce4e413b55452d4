#include "vxcore/console_output.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vxcore/astring.h"
#include "vxcore/posix_io.h"
#include "vxcore/wide_format.h"

namespace core {
namespace {

// Null means standard output. A plain pointer rather than a default sink object keeps printing
// safe from static destructors that run late at exit.
OutputSink* currentSink = nullptr;

std::string& Buffer() {
  static std::string buffer;
  return buffer;
}

// Standard output is held until the run ends: a run holds read leases on the
// store images it maps, and a write that blocks on a slow reader must not keep
// them while a writer of the store waits, or outlast the time the kernel
// gives before it takes them back.
void Emit(const char* data, size_t size) {
  if (currentSink != nullptr) {
    currentSink->Write(data, size);
    return;
  }
  // The buffer must exist before the exit handler is registered, so that it
  // is destroyed only after the handler has written it out.
  std::string& buffer = Buffer();
  static const bool flushAtExit = std::atexit(FlushOutput) == 0;
  buffer.append(data, size);
  if (!flushAtExit) FlushOutput();
}

}  // namespace

void FlushOutput() {
  std::string& buffer = Buffer();
  // A failed write to stdout has nowhere to be reported; the output is lost.
  WriteAll(STDOUT_FILENO, buffer);
  buffer.clear();
}

OutputSink* SetOutputSink(OutputSink* sink) {
  OutputSink* previous = currentSink;
  currentSink = sink;
  return previous;
}

void PrintWide(const wchar_t* format, ...) {
  AString text;
  va_list args;
  va_start(args, format);
  text.FormatV(format, args);
  va_end(args);
  const std::string bytes = text.ASCII();
  Emit(bytes.data(), bytes.size());
}

void PrintBytes(std::string_view bytes) { Emit(bytes.data(), bytes.size()); }

void PrintNarrow(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int size = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (size > 0) {
    std::string bytes(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(bytes.data(), bytes.size(), format, args);
    Emit(bytes.data(), static_cast<size_t>(size));
  }
  va_end(args);
}

}  // namespace core
