#pragma once

#include <string>
#include <string_view>

// The debug log. Off by default. The environment variable TALVEN_DEBUG_LEVEL (one digit, 0..9;
// anything else counts as 0) sets the current level; a line of level L is written when
// 1 <= L <= current level. Lines are appended to the file named by TALVEN_DEBUG_FILE, or go to
// standard error when it is unset or cannot be opened; never to standard output, which carries
// the program's exact results. Each line is written as formatted, in one write, unless a
// TalDebugBuffer gathers them.

class TalDebugData {
 public:
  constexpr TalDebugData() = default;

  // True when a line of `level` would be written.
  bool Debug(int level) const { return level >= 1 && level <= Level(); }
  // The current level; the environment is read at the first call.
  int Level() const;

  // Reads the environment again and reopens the destination.
  void ReloadFromEnvironment();

 private:
  friend void TalDebug(int level, const wchar_t* format, ...);
  friend void TalDebugLines(int level, std::string_view lines);
  friend class TalDebugBuffer;

  void LoadIfNeeded() const;
  // Where lines go: the open log file, or standard error.
  int Descriptor() const;
  // Writes out the buffer once it holds a block of lines.
  void WriteFullBlock();

  // Plain values only, so the object is constant-initialised and never destroyed: logging
  // stays usable from static constructors and destructors.
  mutable bool loaded_ = false;
  mutable int level_ = 0;
  mutable int fd_ = 2;
  std::string* buffer_ = nullptr;  // the TalDebugBuffer's, while one exists
};

extern TalDebugData my_tal_debug_data;

// Writes the formatted line (wide format, see wide_format.h; the format carries its own "\n")
// when `level` is enabled. Nothing is formatted when it is not.
void TalDebug(int level, const wchar_t* format, ...);

// Writes `lines`, already formatted, each with its "\n", when `level` is enabled.
void TalDebugLines(int level, std::string_view lines);

// While one exists, lines are gathered and written in blocks of whole lines, the rest when it
// ends: a run that logs millions of lines then makes a few large writes instead of one each.
// One at a time.
class TalDebugBuffer {
 public:
  TalDebugBuffer();
  ~TalDebugBuffer();
  TalDebugBuffer(const TalDebugBuffer&) = delete;
  TalDebugBuffer& operator=(const TalDebugBuffer&) = delete;

 private:
  std::string lines_;
};
