// Output gathered into blocks: the pieces of a line are copied into one buffer
// after one check for room, and the buffer goes out once it holds a block, so
// that each print is large enough to be written without another copy.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

class OutputBlocks {
 public:
  static constexpr size_t kBlock = size_t{1} << 16;

  // `print(context, bytes)` takes each block.
  using Print = void (*)(void* context, std::string_view bytes);
  OutputBlocks(Print print, void* context)
      : print_(print), context_(context), buffer_(kBlock + kBlock / 16, '\0') {}
  OutputBlocks(const OutputBlocks&) = delete;
  OutputBlocks& operator=(const OutputBlocks&) = delete;

  template <class... Pieces>
  void Put(const Pieces&... pieces) {
    char* cursor = Room((std::string_view(pieces).size() + ...));
    ((cursor = Copy(cursor, pieces)), ...);
    Written(cursor);
  }
  // Prints what is left.
  void Finish() {
    if (used_ > 0) print_(context_, std::string_view(buffer_.data(), used_));
    used_ = 0;
  }

 protected:
  // Where `size` more bytes can be written; Written() takes the end of what was.
  char* Room(size_t size) {
    if (used_ + size > buffer_.size()) buffer_.resize(used_ + size);
    return buffer_.data() + used_;
  }
  void Written(const char* end) {
    used_ = static_cast<size_t>(end - buffer_.data());
    if (used_ >= kBlock) Finish();
  }
  // A view of nothing may hold no address, which memcpy must not be given.
  static char* Copy(char* cursor, std::string_view piece) {
    return std::copy_n(piece.data(), piece.size(), cursor);
  }

 private:
  Print print_;
  void* context_;
  std::string buffer_;
  size_t used_ = 0;
};
