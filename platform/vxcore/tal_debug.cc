#include "vxcore/tal_debug.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>

#include "vxcore/posix_io.h"
#include "vxcore/wide_format.h"

TalDebugData my_tal_debug_data;

namespace {

int LevelFromText(const char* text) {
  if (text == nullptr || text[0] < '0' || text[0] > '9' || text[1] != '\0') return 0;
  return text[0] - '0';
}

constexpr size_t kBufferedBlock = 1 << 16;

}  // namespace

int TalDebugData::Level() const {
  LoadIfNeeded();
  return level_;
}

int TalDebugData::Descriptor() const {
  LoadIfNeeded();
  return fd_;
}

void TalDebugData::ReloadFromEnvironment() {
  if (loaded_ && fd_ != STDERR_FILENO) ::close(fd_);
  loaded_ = false;
  level_ = 0;
  fd_ = STDERR_FILENO;
  LoadIfNeeded();
}

void TalDebugData::LoadIfNeeded() const {
  if (loaded_) return;
  loaded_ = true;
  level_ = LevelFromText(std::getenv("TALVEN_DEBUG_LEVEL"));
  const char* file = std::getenv("TALVEN_DEBUG_FILE");
  if (level_ == 0 || file == nullptr || file[0] == '\0') return;
  const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) fd_ = fd;
}

void TalDebugData::WriteFullBlock() {
  if (buffer_->size() < kBufferedBlock) return;
  core::WriteAll(Descriptor(), *buffer_);
  buffer_->clear();
}

void TalDebug(int level, const wchar_t* format, ...) {
  if (!my_tal_debug_data.Debug(level)) return;
  std::string line;
  std::string& out = my_tal_debug_data.buffer_ != nullptr ? *my_tal_debug_data.buffer_ : line;
  va_list args;
  va_start(args, format);
  core::AppendFormatV(out, format, args);
  va_end(args);
  if (&out == &line) {
    core::WriteAll(my_tal_debug_data.Descriptor(), line);
  } else {
    my_tal_debug_data.WriteFullBlock();
  }
}

void TalDebugLines(int level, std::string_view lines) {
  if (!my_tal_debug_data.Debug(level)) return;
  if (my_tal_debug_data.buffer_ == nullptr) {
    core::WriteAll(my_tal_debug_data.Descriptor(), lines);
    return;
  }
  my_tal_debug_data.buffer_->append(lines);
  my_tal_debug_data.WriteFullBlock();
}

TalDebugBuffer::TalDebugBuffer() {
  lines_.reserve(2 * kBufferedBlock);
  my_tal_debug_data.buffer_ = &lines_;
}

TalDebugBuffer::~TalDebugBuffer() {
  my_tal_debug_data.buffer_ = nullptr;
  if (!lines_.empty()) core::WriteAll(my_tal_debug_data.Descriptor(), lines_);
}
