// The result of a file operation or of the store built on them: OK, or a code
// with a message that names the file and the reason. The store's TalReg*
// boundary turns it into an int status.
#pragma once

#include <string>
#include <utility>

namespace fsio {

class [[nodiscard]] Status {
 public:
  enum class Code { kOk, kNotFound, kCorruption, kIOError, kInvalidArgument, kBusy, kNotSupported };

  Status() = default;

  static Status OK() { return Status(); }
  static Status NotFound(std::string message) {
    return Status(Code::kNotFound, std::move(message));
  }
  static Status Corruption(std::string message) {
    return Status(Code::kCorruption, std::move(message));
  }
  static Status IOError(std::string message) { return Status(Code::kIOError, std::move(message)); }
  static Status InvalidArgument(std::string message) {
    return Status(Code::kInvalidArgument, std::move(message));
  }
  static Status Busy(std::string message) { return Status(Code::kBusy, std::move(message)); }
  // The file system cannot do this (a hard link on vfat, a folder flush on some shares).
  static Status NotSupported(std::string message) {
    return Status(Code::kNotSupported, std::move(message));
  }

  bool ok() const { return code_ == Code::kOk; }
  bool IsNotFound() const { return code_ == Code::kNotFound; }
  bool IsCorruption() const { return code_ == Code::kCorruption; }
  bool IsIOError() const { return code_ == Code::kIOError; }
  bool IsNotSupported() const { return code_ == Code::kNotSupported; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }

  // "OK", or the code's name followed by the message.
  std::string ToString() const;

  // For the rare place where a failure changes nothing, e.g. cleaning up after
  // an earlier failure that is already being reported.
  void IgnoreError() const {}

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  Code code_ = Code::kOk;
  std::string message_;
};

}  // namespace fsio
