#include "fsio/status.h"

namespace fsio {

std::string Status::ToString() const {
  const char* name = "OK";
  switch (code_) {
    case Code::kOk:
      return name;
    case Code::kNotFound:
      name = "Not found: ";
      break;
    case Code::kCorruption:
      name = "Damaged: ";
      break;
    case Code::kIOError:
      name = "I/O error: ";
      break;
    case Code::kInvalidArgument:
      name = "Invalid argument: ";
      break;
    case Code::kBusy:
      name = "Busy: ";
      break;
    case Code::kNotSupported:
      name = "Not supported: ";
      break;
  }
  return name + message_;
}

}  // namespace fsio
