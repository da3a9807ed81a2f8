// ByteBuffer: the one serialization primitive of the protocol.
//
// A buffer is created in writing mode (empty; every Process call appends the
// value's bytes) or in reading mode (over a body; every Process call fills the
// value from the next bytes). One serialization function per message walks
// its fields with Process, so both directions share one field order.
//
// Encoding: little-endian scalars copied as the host holds them, narrow
// strings as a uint32 byte count and the bytes, UTF-32 strings as a uint32
// code-unit count and 4 bytes per unit, vectors and maps as a uint32 count and
// their elements (maps in ascending key order). No padding, tags or names.
//
// Reading never goes past the end: a read that needs more bytes than remain
// throws ByteBufferException, and every count or length read from a body is
// compared with the bytes that remain before anything is allocated for it.
//
// Large answers move without extra copies of their bulk bytes: a gathering
// writer keeps references to large blocks instead of copying them (the
// sender hands the blocks to the socket as they are), and a streaming reader
// pulls the body from a ByteSource, receiving every byte vector straight into
// its vector (which may come from a pool of warm vectors).
//
// Threads: a buffer belongs to the thread that uses it; no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

// Thrown by value by ByteBuffer alone, when a read needs more bytes than the
// buffer holds. A plain value: no base class, no text.
struct ByteBufferException {
  bool writing;               // mode of the failed transfer (false: a read)
  std::uint32_t endPosition;  // read position the failed read needed to reach
  std::uint32_t length;       // bytes asked for
  std::uint32_t bufferSize;   // bytes the buffer holds
};

// Where a streaming reader gets a body's bytes from (a socket, for instance).
class ByteSource {
 public:
  // Stores exactly `count` bytes (count > 0) at `into`, or fails: false when
  // the bytes cannot be had (the source keeps the reason for its owner).
  virtual bool Read(void* into, std::size_t count) = 0;

 protected:
  ~ByteSource() = default;
};

// One block of a gathering buffer's content.
struct ByteBlock {
  const std::uint8_t* data;
  std::size_t size;
};

class ByteBuffer {
 public:
  // Runs of at least this many bytes are referenced, not copied, by a
  // gathering writer. Smaller runs are cheaper to copy than to list.
  static constexpr std::size_t kReferencedRunBytes = 4096;

  struct Gathering {};

  // Writing mode (writing = true): empty, `capacity` bytes reserved.
  ByteBuffer(std::size_t capacity, bool writing);
  // Writing mode that references large runs instead of copying them: every
  // ProcessBytes of at least kReferencedRunBytes (a byte vector's bytes, a
  // long string, any large block) is remembered by address. Those bytes must
  // stay alive and unchanged until the blocks have been used (a sender
  // serializes a message and sends it at once). The content is read with
  // ForEachBlock; Size() counts all of it. Data() and Release() give the
  // copied bytes alone and are meant for the other modes.
  ByteBuffer(std::size_t capacity, Gathering);
  // Over `length` bytes. In reading mode the buffer borrows the bytes without
  // copying them: they must outlive the buffer. In writing mode the bytes are
  // copied and further writes append to them.
  ByteBuffer(const void* bytes, std::size_t length, bool writing);
  // Reading mode over a body of `length` bytes that `source` delivers in
  // order, as they are read. A failing source throws ByteBufferException as a
  // short body would (its owner tells the two apart). Bytes the reader does
  // not reach stay in the source. `source` must outlive the buffer.
  ByteBuffer(ByteSource& source, std::size_t length);

  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  bool IsWriting() const { return writing; }
  // Bytes held: in writing mode the serialized length so far (referenced
  // runs included).
  std::size_t Size() const { return writing ? data.size() + referencedBytes : size; }
  // First byte held (reading mode: the borrowed body; null when streaming).
  const std::uint8_t* Data() const { return writing ? data.data() : readData; }
  // Writing mode: calls visit(const std::uint8_t* bytes, std::size_t count)
  // for the content in order, in as few blocks as it is held (one for a
  // buffer that copies everything); empty blocks are skipped.
  template <typename Visit>
  void ForEachBlock(Visit visit) const;
  // Writing mode: the number of blocks ForEachBlock visits at most.
  std::size_t BlockCount() const { return 2 * references.size() + 1; }
  // Streaming reading mode: byte vectors read from now on take their memory
  // from `pool` when that spares an allocation (the vector of smallest
  // capacity that holds the bytes), so that bytes land in memory touched
  // before; one that must be allocated gets an eighth more room, for the
  // next time. The pool must outlive the reads; vectors left in it are the
  // caller's.
  void SetVectorPool(std::vector<std::vector<std::uint8_t>>* pool) { vectorPool = pool; }
  // Bytes not yet read (reading mode); 0 in writing mode.
  std::size_t Remaining() const { return writing ? 0 : size - readPosition; }
  // Writing mode: reserves room for `extra` more bytes, so that a caller that
  // knows what follows avoids regrowing. No effect in reading mode, nor on a
  // gathering buffer (which copies only small runs).
  void Reserve(std::size_t extra);
  // Writing mode: the bytes written so far, handed over; the buffer is empty
  // afterwards. Lets a sender keep the bytes without copying them.
  std::vector<std::uint8_t> Release();

  // Moves `length` raw bytes between the buffer and `bytes`. Length 0 does
  // nothing. Reading past the end throws and leaves the read position.
  void ProcessBytes(void* bytes, std::size_t length);

  ByteBuffer& Process(bool& value);
  ByteBuffer& Process(std::uint8_t& value);
  ByteBuffer& Process(std::int32_t& value);
  ByteBuffer& Process(std::uint32_t& value);
  ByteBuffer& Process(std::int64_t& value);
  ByteBuffer& Process(float& value);
  ByteBuffer& Process(double& value);
  ByteBuffer& Process(std::string& value);     // narrow (UTF-8) string
  ByteBuffer& Process(std::u32string& value);  // UTF-32 string
  // Byte vector: a uint32 count and the bytes, moved in one block copy; a
  // read copies straight from the body into the vector, without first
  // zero-filling it (streaming: the vector is sized, then the source fills
  // it in place).
  ByteBuffer& Process(std::vector<std::uint8_t>& value);

  // Every enumeration travels as a signed 32-bit integer.
  template <typename E>
  requires std::is_enum_v<E> ByteBuffer& Process(E& value) {
    std::int32_t raw = static_cast<std::int32_t>(value);
    Process(raw);
    if (!writing) value = static_cast<E>(raw);
    return *this;
  }

  // Reading mode: reads a uint32 count and checks that at least
  // `count * minBytesEach` bytes remain (throws otherwise). Writing mode:
  // writes `count`. Used by the container overloads below.
  std::uint32_t ProcessCount(std::size_t count, std::size_t minBytesEach);

 private:
  [[noreturn]] void ThrowShort(std::uint64_t needed) const;
  // Writing mode: makes room for `extra` more bytes. Grows geometrically but
  // never less than the block plus a small tail, so that the few bytes that
  // follow a large block do not double an already large buffer.
  void Grow(std::size_t extra);
  // Reading mode over borrowed bytes: the next `length` bytes, advancing
  // past them; throws when fewer remain.
  const std::uint8_t* Take(std::size_t length);
  // Reading mode, either kind: copies the next `length` bytes to `into`,
  // advancing past them; throws when fewer remain or the source fails.
  void ReadInto(void* into, std::size_t length);
  // Streaming: gives `value` memory from the pool when it lacks room for
  // `count` bytes.
  void TakeFromPool(std::vector<std::uint8_t>& value, std::size_t count);

  // A run of a gathering buffer that is referenced: it follows the copied
  // byte at index `at` (that is, the copied bytes before index `at`).
  struct Reference {
    std::size_t at;
    const std::uint8_t* data;
    std::size_t size;
  };

  bool writing;
  bool gathering = false;
  std::uint32_t readPosition = 0;
  std::uint32_t size = 0;
  std::vector<std::uint8_t> data;          // writing mode: the bytes written
  const std::uint8_t* readData = nullptr;  // reading mode: the borrowed body
  ByteSource* source = nullptr;            // streaming reading mode
  std::vector<std::vector<std::uint8_t>>* vectorPool = nullptr;
  std::vector<Reference> references;  // gathering mode
  std::size_t referencedBytes = 0;
};

template <typename Visit>
void ByteBuffer::ForEachBlock(Visit visit) const {
  std::size_t copied = 0;
  for (const Reference& reference : references) {
    if (reference.at > copied) visit(data.data() + copied, reference.at - copied);
    copied = reference.at;
    visit(reference.data, reference.size);
  }
  if (data.size() > copied) visit(data.data() + copied, data.size() - copied);
}

namespace byte_buffer_detail {
template <typename T>
concept MemberProcessed = requires(ByteBuffer& b, T& v) {
  b.Process(v);
};
}  // namespace byte_buffer_detail

// Dispatches a value to the member overload (scalars, strings, enums) or to
// the free overload found by argument-dependent lookup (records, containers).
template <typename T>
ByteBuffer& ProcessValue(ByteBuffer& buffer, T& value) {
  if constexpr (byte_buffer_detail::MemberProcessed<T>) {
    return buffer.Process(value);
  } else {
    return Process(buffer, value);
  }
}

// Byte vectors move in one block copy (see the member overload).
inline ByteBuffer& Process(ByteBuffer& buffer, std::vector<std::uint8_t>& value) {
  return buffer.Process(value);
}

// Vectors: count, then each element. Reading grows the vector element by
// element as the body provides them, so a forged count cannot allocate more
// than the body can fill.
template <typename T>
ByteBuffer& Process(ByteBuffer& buffer, std::vector<T>& value) {
  const std::uint32_t count = buffer.ProcessCount(value.size(), 1);
  if (buffer.IsWriting()) {
    for (T& element : value) ProcessValue(buffer, element);
    return buffer;
  }
  if (value.size() > count) value.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (i == value.size()) value.emplace_back();
    ProcessValue(buffer, value[i]);
  }
  return buffer;
}

// Maps: count, then key and value per entry in ascending key order. Reading
// inserts without replacing: a repeated key keeps its first value, and
// entries held before reading stay.
template <typename K, typename V, typename C, typename A>
ByteBuffer& Process(ByteBuffer& buffer, std::map<K, V, C, A>& value) {
  const std::uint32_t count = buffer.ProcessCount(value.size(), 2);
  if (buffer.IsWriting()) {
    for (auto& [key, mapped] : value) {
      K keyCopy = key;
      ProcessValue(buffer, keyCopy);
      ProcessValue(buffer, mapped);
    }
    return buffer;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    K key{};
    V mapped{};
    ProcessValue(buffer, key);
    ProcessValue(buffer, mapped);
    value.emplace(std::move(key), std::move(mapped));
  }
  return buffer;
}
