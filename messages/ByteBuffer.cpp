#include "messages/ByteBuffer.h"

#include <algorithm>
#include <limits>

ByteBuffer::ByteBuffer(std::size_t capacity, bool writing) : writing(writing) {
  if (writing) data.reserve(capacity);
}

ByteBuffer::ByteBuffer(std::size_t capacity, Gathering) : writing(true), gathering(true) {
  data.reserve(capacity);
}

ByteBuffer::ByteBuffer(ByteSource& source, std::size_t length)
    : writing(false), size(static_cast<std::uint32_t>(length)), source(&source) {}

ByteBuffer::ByteBuffer(const void* bytes, std::size_t length, bool writing)
    : writing(writing), size(static_cast<std::uint32_t>(length)) {
  if (writing) {
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    data.assign(first, first + length);
  } else {
    readData = static_cast<const std::uint8_t*>(bytes);
  }
}

void ByteBuffer::Reserve(std::size_t extra) {
  if (writing && !gathering) data.reserve(data.size() + extra);
}

std::vector<std::uint8_t> ByteBuffer::Release() {
  std::vector<std::uint8_t> out;
  if (writing) out.swap(data);
  references.clear();
  referencedBytes = 0;
  return out;
}

void ByteBuffer::ThrowShort(std::uint64_t needed) const {
  const std::uint64_t end = static_cast<std::uint64_t>(readPosition) + needed;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  throw ByteBufferException{false, static_cast<std::uint32_t>(end > kMax ? kMax : end),
                            static_cast<std::uint32_t>(needed > kMax ? kMax : needed), size};
}

void ByteBuffer::Grow(std::size_t extra) {
  // A plain vector would double its capacity when a 4-byte count follows a
  // 16 MiB image: the tail keeps that from happening, and doubling keeps
  // many small writes amortised.
  constexpr std::size_t kTail = 4096;
  data.reserve(std::max(data.capacity() * 2, data.size() + extra + kTail));
}

const std::uint8_t* ByteBuffer::Take(std::size_t length) {
  if (length > static_cast<std::size_t>(size - readPosition)) ThrowShort(length);
  const std::uint8_t* first = readData + readPosition;
  readPosition += static_cast<std::uint32_t>(length);
  return first;
}

void ByteBuffer::ReadInto(void* into, std::size_t length) {
  if (length == 0) return;
  if (source == nullptr) {
    std::memcpy(into, Take(length), length);
    return;
  }
  if (length > static_cast<std::size_t>(size - readPosition)) ThrowShort(length);
  // A source that cannot deliver ends the body here, like a short one.
  if (!source->Read(into, length)) ThrowShort(length);
  readPosition += static_cast<std::uint32_t>(length);
}

void ByteBuffer::TakeFromPool(std::vector<std::uint8_t>& value, std::size_t count) {
  if (vectorPool == nullptr || value.capacity() >= count) return;
  auto best = vectorPool->end();
  for (auto it = vectorPool->begin(); it != vectorPool->end(); ++it) {
    if (it->capacity() >= count &&
        (best == vectorPool->end() || it->capacity() < best->capacity())) {
      best = it;
    }
  }
  if (best == vectorPool->end()) {
    // None is large enough: this one gets some room to spare, so that it
    // holds a slightly larger vector the next time it is pooled.
    value.reserve(count + count / 8);
    return;
  }
  value.swap(*best);
  vectorPool->erase(best);
}

void ByteBuffer::ProcessBytes(void* bytes, std::size_t length) {
  if (length == 0) return;
  if (writing) {
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    if (gathering && length >= kReferencedRunBytes) {
      references.push_back({data.size(), first, length});
      referencedBytes += length;
      return;
    }
    if (data.capacity() - data.size() < length) Grow(length);
    data.insert(data.end(), first, first + length);
    return;
  }
  ReadInto(bytes, length);
}

std::uint32_t ByteBuffer::ProcessCount(std::size_t count, std::size_t minBytesEach) {
  std::uint32_t value = static_cast<std::uint32_t>(count);
  Process(value);
  if (!writing) {
    const std::uint64_t needed = static_cast<std::uint64_t>(value) * minBytesEach;
    if (needed > size - readPosition) ThrowShort(needed);
  }
  return value;
}

ByteBuffer& ByteBuffer::Process(bool& value) {
  std::uint8_t byte = value ? 1 : 0;
  ProcessBytes(&byte, 1);
  // Any non-zero byte reads as true; the value itself stays a valid bool.
  if (!writing) value = byte != 0;
  return *this;
}

ByteBuffer& ByteBuffer::Process(std::uint8_t& value) {
  ProcessBytes(&value, sizeof value);
  return *this;
}

ByteBuffer& ByteBuffer::Process(std::int32_t& value) {
  ProcessBytes(&value, sizeof value);
  return *this;
}

ByteBuffer& ByteBuffer::Process(std::uint32_t& value) {
  ProcessBytes(&value, sizeof value);
  return *this;
}

ByteBuffer& ByteBuffer::Process(std::int64_t& value) {
  ProcessBytes(&value, sizeof value);
  return *this;
}

ByteBuffer& ByteBuffer::Process(float& value) {
  ProcessBytes(&value, sizeof value);
  return *this;
}

ByteBuffer& ByteBuffer::Process(double& value) {
  ProcessBytes(&value, sizeof value);
  return *this;
}

ByteBuffer& ByteBuffer::Process(std::string& value) {
  const std::uint32_t length = ProcessCount(value.size(), 1);
  if (writing) {
    ProcessBytes(value.data(), length);
  } else if (length == 0) {
    value.clear();
  } else if (source == nullptr) {
    value.assign(reinterpret_cast<const char*>(Take(length)), length);
  } else {
    value.resize(length);
    ReadInto(value.data(), length);
  }
  return *this;
}

ByteBuffer& ByteBuffer::Process(std::vector<std::uint8_t>& value) {
  const std::uint32_t count = ProcessCount(value.size(), 1);
  if (writing) {
    ProcessBytes(value.data(), count);
  } else if (count == 0) {
    value.clear();
  } else if (source == nullptr) {
    const std::uint8_t* first = Take(count);
    value.assign(first, first + count);
  } else {
    // Received in place: a vector that already holds `count` bytes or more
    // (a pooled one) is only shortened, never zero-filled.
    TakeFromPool(value, count);
    value.resize(count);
    ReadInto(value.data(), count);
  }
  return *this;
}

ByteBuffer& ByteBuffer::Process(std::u32string& value) {
  const std::uint32_t length = ProcessCount(value.size(), 4);
  if (!writing) value.resize(length);
  ProcessBytes(value.data(), static_cast<std::size_t>(length) * 4);
  return *this;
}
