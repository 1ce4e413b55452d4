#include "vxcore/console_output.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
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

constexpr size_t kBufferLimit = 64 * 1024;

// The error of the first write to standard output that failed, or 0.
int outputError = 0;

void WriteOut(std::string_view bytes) {
  if (!WriteAll(STDOUT_FILENO, bytes) && outputError == 0) outputError = errno;
}

std::string& Buffer() {
  static std::string buffer;
  return buffer;
}

// How many bytes standard output takes now without waiting for its reader:
// unlimited but for a pipe, which keeps what it holds in whole pages.
size_t RoomWithoutWaiting() {
  const int capacity = ::fcntl(STDOUT_FILENO, F_GETPIPE_SZ);
  int unread = 0;
  if (capacity < 0 || ::ioctl(STDOUT_FILENO, FIONREAD, &unread) != 0) return SIZE_MAX;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t held = (static_cast<size_t>(unread) + page - 1) / page * page + page;
  return static_cast<size_t>(capacity) > held ? static_cast<size_t>(capacity) - held : 0;
}

// Writes out as much of the buffer as standard output takes without waiting.
void WriteWhatFits() {
  std::string& buffer = Buffer();
  const size_t room = RoomWithoutWaiting();
  if (room >= buffer.size()) {
    FlushOutput();
  } else if (room > 0) {
    WriteOut(std::string_view(buffer).substr(0, room));
    buffer.erase(0, room);
  }
}

// A run holds read leases on the store images it maps. A write that waits for
// a slow reader must not keep them from a writer of the store, or outlast the
// time the kernel gives before it takes them back while the run still reads
// them; so what a full pipe cannot take at once is held until the run ends.
void Emit(const char* data, size_t size) {
  if (currentSink != nullptr) {
    currentSink->Write(data, size);
    return;
  }
  // The buffer must exist before the exit handler is registered, so that it
  // is destroyed only after the handler has written it out.
  std::string& buffer = Buffer();
  static const bool flushAtExit = std::atexit(FlushOutput) == 0;
  // A print as large as the buffer goes out as it is, without a copy.
  if (size >= kBufferLimit && RoomWithoutWaiting() >= buffer.size() + size) {
    FlushOutput();
    WriteOut(std::string_view(data, size));
    return;
  }
  buffer.append(data, size);
  if (!flushAtExit) {
    FlushOutput();
  } else if (buffer.size() >= kBufferLimit) {
    WriteWhatFits();
  }
}

}  // namespace

void FlushOutput() {
  std::string& buffer = Buffer();
  WriteOut(buffer);
  buffer.clear();
}

int OutputError() { return outputError; }

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
