#pragma once

// Small POSIX helpers shared by the library's writers: an owning file descriptor and
// whole-buffer reads and writes that survive partial transfers and EINTR.

#include <string>
#include <string_view>

namespace core {

// Owns one file descriptor; closes it quietly on destruction. A caller that must know whether
// the close succeeded calls Close() itself.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  int Release();
  // Returns false, with errno set, when close(2) reports an error.
  bool Close();

 private:
  int fd_ = -1;
};

// Writes all of `bytes`; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes);

// Reads the whole file at `path` into `bytes`; false with errno set on failure (ENOENT when
// the file does not exist).
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace core
