// GatherCursor: the position inside a list of byte blocks that go out as one
// stream through several gathered send calls. Shared by the POSIX and Win32
// implementations of SendAllWithin; holds no operating-system type.
//
// Threads: a plain value, used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Socket.h"

namespace Platform {

class GatherCursor {
 public:
  // `parts` must outlive the cursor; empty parts are skipped.
  GatherCursor(const ConstBuffer* parts, std::size_t count) : parts_(parts), count_(count) {
    SkipEmpty();
  }

  bool Done() const { return index_ == count_; }

  // Calls add(pointer, length) for the unsent bytes of at most `maxBlocks`
  // parts, in order, each length capped at `maxLength`; returns how many
  // blocks were added.
  template <typename Add>
  std::size_t Fill(Add add, std::size_t maxBlocks, std::size_t maxLength) const {
    std::size_t added = 0;
    for (std::size_t i = index_; i < count_ && added < maxBlocks; ++i) {
      const std::size_t skip = i == index_ ? offset_ : 0;
      const std::size_t left = parts_[i].size - skip;
      if (left == 0) continue;
      add(static_cast<const std::uint8_t*>(parts_[i].data) + skip,
          left < maxLength ? left : maxLength);
      ++added;
      if (left > maxLength) break;  // the rest of this part goes in a later call
    }
    return added;
  }

  // Marks `bytes` more bytes as sent (at most what is left).
  void Advance(std::size_t bytes) {
    while (bytes > 0 && index_ < count_) {
      const std::size_t left = parts_[index_].size - offset_;
      if (bytes < left) {
        offset_ += bytes;
        return;
      }
      bytes -= left;
      ++index_;
      offset_ = 0;
    }
    SkipEmpty();
  }

 private:
  void SkipEmpty() {
    while (index_ < count_ && parts_[index_].size == offset_) {
      ++index_;
      offset_ = 0;
    }
  }

  const ConstBuffer* parts_;
  std::size_t count_;
  std::size_t index_ = 0;
  std::size_t offset_ = 0;
};

}  // namespace Platform
