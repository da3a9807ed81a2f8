// Helpers shared by the messages tests: writing a value to bytes and reading
// it back through ByteBuffer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "messages/ByteBuffer.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes MakeBytes(std::initializer_list<int> values) {
  Bytes bytes;
  for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

// The bytes a serialization function writes for `value`.
template <typename T, typename F>
Bytes Write(F serialize, T value) {
  ByteBuffer buffer(128, true);
  serialize(buffer, value);
  return Bytes(buffer.Data(), buffer.Data() + buffer.Size());
}

// A value-initialised T read from `body`; the body is copied into an
// exact-size heap block so that the sanitizers catch an over-read.
template <typename T, typename F>
T Read(F serialize, const Bytes& body) {
  Bytes exact(body);
  exact.shrink_to_fit();
  ByteBuffer buffer(exact.data(), exact.size(), false);
  T value{};
  serialize(buffer, value);
  return value;
}

// Generic record/container serialization through Process.
struct ProcessFn {
  template <typename T>
  void operator()(ByteBuffer& buffer, T& value) const {
    ProcessValue(buffer, value);
  }
};
