// Type-erased interfaces of the per-type-id registries of a Connection: what
// to do with an incoming body (IFuncWrapper) and how a message turns into a
// body and back (ISerializerFuncWrapper). The typed implementations are
// nested in Connection.
//
// Threads: a wrapper is used by the thread that uses its Connection.
#pragma once

#include <cstddef>

class ByteBuffer;

namespace Network {

// Outcome of handing one body to its handler.
enum class InvokeResult {
  Handled,         // the handler ran
  BodyTooShort,    // raw body shorter than the message structure
  NoDeserializer,  // the message type cannot travel raw and has no reader
  NoMemory,        // no storage for the message object
};

class IFuncWrapper {
 public:
  // Turns `size` body bytes into a message and calls the handler with it.
  // Exceptions of the deserializer (ByteBufferException on a body shorter
  // than its fields) and of the handler pass through after the message
  // object is released.
  virtual InvokeResult Invoke(void* body, std::size_t size) = 0;
  virtual ~IFuncWrapper() = default;
};

class ISerializerFuncWrapper {
 public:
  // Reads a body into `message`, which must be of the type this wrapper was
  // made for. Throws ByteBufferException when the body is too short.
  virtual void Deserialize(const void* body, std::size_t size, void* message) = 0;
  // Appends the serialized `message` to `buffer` (writing mode).
  virtual void Serialize(void* message, ByteBuffer& buffer) = 0;
  // Identifies the message type this wrapper was made for.
  virtual const void* MessageType() const = 0;
  virtual ~ISerializerFuncWrapper() = default;
};

// A distinct address per message type, for MessageType().
template <typename Msg>
const void* MessageTypeTag() {
  static const char tag = 0;
  return &tag;
}

}  // namespace Network
