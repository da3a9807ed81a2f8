// Connection: one connected TCP client, with bounded sends and receives, the
// framing of typed messages and their dispatch to registered handlers.
//
// A Connection owns its socket and every wrapper in its three registries
// (handlers, deserializers, serializers), keyed by message type id. Register
// deserializers first, then handlers (a handler takes the deserializer of its
// id at registration), and serializers before the first send; then call
// ReceiveWithHandlers repeatedly. Every failure is reported once through the
// error handler (ErrorReporting.h) and shows in the result; why the receive
// loop ended is kept for the owner (LastDropReason).
//
// Untrusted input: a frame's header and body come from the network. Unknown
// type ids, empty bodies, raw bodies shorter than their structure and frames
// that stop arriving end the loop with false; a serialized body shorter than
// its fields throws ByteBufferException out of ReceiveWithHandlers (buffers
// and message objects are released first). Sizes up to 4 GiB are accepted:
// bodies above 32 MiB get a buffer of their own when memory allows.
//
// Threads: no locks. One thread receives and runs the handlers; sends from
// several threads must be serialised by the caller. The registries must not
// change while a receive or send runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "messages/ByteBuffer.h"
#include "network/ErrorReporting.h"
#include "network/FuncWrappers.h"
#include "network/IConnection.h"
#include "platform/Socket.h"

namespace Network {

// Bodies up to this size share the receive buffer of one ReceiveWithHandlers
// call; larger ones get a buffer of their own.
inline constexpr std::size_t kDefaultReceiveBufferSize = 33554432;

// Room a serialized answer starts with for its copied fields.
inline constexpr std::size_t kSerializedStartBytes = 128;

// Once the first byte of a frame has arrived, the rest of the frame must keep
// coming: a frame that delivers no byte for this long drops the connection.
// Waiting for the first byte of a frame is unlimited.
inline constexpr std::uint32_t kFrameStallLimitMs = 10000;

// Once an answer has started, the client must keep taking it: an answer of
// which the client accepts no byte for this long drops the connection. An
// answer that keeps moving, however slowly, is never cut.
inline constexpr std::uint32_t kSendStallLimitMs = 10000;

// Why the last ReceiveWithHandlers call returned false (or threw).
enum class DropReason {
  None,                // the last call returned true (or none was made)
  PeerClosed,          // the peer closed the stream between frames
  PeerClosedMidFrame,  // the peer closed the stream inside a frame
  ReceiveError,        // the socket failed (reported, see LastSocketError)
  Stalled,             // a frame stopped arriving for the stall limit
  UnknownType,         // no handler for the frame's type id (body unread)
  EmptyBody,           // the header announced 0 body bytes
  BodyTooShort,        // raw body shorter than its message structure
  NoDeserializer,      // message type that cannot travel raw had no reader
  OutOfMemory,         // a receive buffer or message object was refused
  ExceptionThrown,     // deserializing or the handler threw
  SendStalled,         // the peer accepted no byte of an answer for the send stall limit
  SendFailed,          // sending an answer failed (reported, see LastSocketError)
};

// A short English description, e.g. "frame stalled".
const char* DropReasonText(DropReason reason);

// Outcome of one ReceiveAvailable call.
enum class ReceiveStatus { Data, TimedOut, Closed, Failed };
struct PartialReceive {
  std::size_t count;  // bytes stored, at least 1 when status is Data
  ReceiveStatus status;
};

class Connection : public IConnection {
 public:
  template <typename Lambda, typename Msg>
  class FuncWrapper;
  template <typename Fn, typename Msg>
  class SerializerFuncWrapper;

  // Takes ownership of a connected socket; no option is changed. A
  // subclass that moves bytes itself may pass Platform::kInvalidSocket.
  explicit Connection(Platform::SocketHandle socket);
  // Destroys every handler, then every deserializer, then every serializer
  // wrapper, then closes the socket.
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // IConnection. Failures are reported with codes 5 (State), 6 (Send) and
  // 7 (Receive) and this connection as source.
  bool State(StateQuery which, std::uint32_t timeoutMs) override;
  bool Send(const void* data, std::size_t count, std::uint32_t timeoutMs) override;
  std::size_t Receive(void* buffer, std::size_t count, std::uint32_t timeoutMs) override;

  // Waits up to `waitMs` (kNoTimeout: no limit) for bytes, then stores
  // between 1 and `count` of them with one read. Closed: the peer shut the
  // stream down (not reported). Failed: reported (code 5 for the wait, 7 for
  // the read). The frame reader of ReceiveWithHandlers uses this.
  virtual PartialReceive ReceiveAvailable(void* buffer, std::size_t count, std::uint32_t waitMs);

  // Registers `handler` (callable with a Msg&) for type id `typeId`,
  // replacing and destroying an earlier one. It takes the deserializer
  // registered for `typeId` now, if any; without one, bodies are the raw
  // bytes of a Msg (Msg must then be trivially copyable, else such bodies
  // are refused). False when the wrapper cannot be allocated or the
  // registered deserializer is for another type (nothing changes then).
  template <typename Msg, typename Lambda>
  bool SetHandler(std::size_t typeId, Lambda handler);

  // Registers how incoming bodies of `typeId` become a Msg: `fn` is called
  // with a ByteBuffer in reading mode and a value-initialised Msg. Replaces
  // and destroys an earlier one; a handler registered before keeps the old
  // pointer, so replace a deserializer only before its handler. False when
  // the wrapper cannot be allocated.
  template <typename Msg, typename Fn>
  bool SetDeserializer(std::size_t typeId, Fn fn);
  template <typename Msg>
  bool SetDeserializer(std::size_t typeId, void (*fn)(ByteBuffer&, Msg&));
  template <typename Msg>
  bool SetDeserializer(std::size_t typeId, ByteBuffer& (*fn)(ByteBuffer&, Msg&));

  // Registers how an outgoing Msg under `typeId` becomes a body: `fn` is
  // called with a ByteBuffer in writing mode. Replaces an earlier one.
  template <typename Msg, typename Fn>
  bool SetSerializer(std::size_t typeId, Fn fn);
  template <typename Msg>
  bool SetSerializer(std::size_t typeId, void (*fn)(ByteBuffer&, Msg&));
  template <typename Msg>
  bool SetSerializer(std::size_t typeId, ByteBuffer& (*fn)(ByteBuffer&, Msg&));

  // Sends `*value` as one frame under `typeId` (zero-extended), header and
  // body as one stream (SendParts): serialized when a serializer is
  // registered for `typeId` (it must be for T), else the raw bytes of T.
  // Nothing is copied in bulk: large runs of the serialized body (image
  // bytes) go to the socket from the value's own memory, so the value must
  // not change during the call.
  // False, with nothing sent, for a null value, a serializer of another type,
  // a T that cannot travel raw or a body above 4 GiB. False when the send
  // failed (reported, code 6) or stalled (see SetSendStallLimit): the
  // connection is then broken and ReceiveWithHandlers ends with false once
  // the running handler returns. Serializing may throw std::bad_alloc.
  template <typename T>
  bool SendMsg(std::size_t typeId, const T* value);

  // Receives frames and runs their handlers until a handler has finished
  // after `timeoutMs` (-1: no limit) counted from the call: then true.
  // False when a frame could not be received or handled; LastDropReason
  // tells why. Exceptions of deserializers and handlers pass through.
  bool ReceiveWithHandlers(std::int32_t timeoutMs);

  DropReason LastDropReason() const { return lastDrop; }
  // OS code of the last socket failure of this connection (0: none).
  int LastSocketError() const { return lastSocketError; }
  std::string LastSocketErrorText() const;

  // The per-frame stall limit (default kFrameStallLimitMs; kNoTimeout
  // switches it off).
  void SetFrameStallLimit(std::uint32_t ms) { stallLimitMs = ms; }
  std::uint32_t FrameStallLimit() const { return stallLimitMs; }
  // How long an answer may wait for the peer to accept another byte
  // (default kSendStallLimitMs; kNoTimeout switches it off).
  void SetSendStallLimit(std::uint32_t ms) { sendStallLimitMs = ms; }
  std::uint32_t SendStallLimit() const { return sendStallLimitMs; }

  Platform::SocketHandle Socket() const { return socket; }

 protected:
  void RecordSocketError(int error) { lastSocketError = error; }

  // Hands the bytes of `parts`, in order, to the peer as one stream. The
  // socket implementation waits at most SendStallLimit() for the peer to
  // accept another byte (Stalled, not reported); a failing socket is
  // reported with code 6 (Failed). A subclass that moves bytes itself
  // overrides this.
  virtual Platform::SendStatus SendParts(const Platform::ConstBuffer* parts, std::size_t count);

 private:
  template <typename Msg, typename Fn>
  bool StoreSerializer(std::map<std::size_t, std::unique_ptr<ISerializerFuncWrapper>>& registry,
                       std::size_t typeId, Fn fn);
  // Sends one frame as one stream (one gathered send where the socket takes
  // it all): the header for a body of `bodySize` bytes, written into
  // parts[0], then the body in parts[1..count-1]. False, with nothing sent,
  // for a body above 4 GiB or once an earlier answer failed or stalled.
  bool SendFrame(std::size_t typeId, std::size_t bodySize, Platform::ConstBuffer* parts,
                 std::size_t count);
  // SendFrame of a raw body.
  bool SendRaw(std::size_t typeId, const void* body, std::size_t size);
  // SendFrame of a serialized body, straight from the blocks of `body`.
  bool SendSerialized(std::size_t typeId, const ByteBuffer& body);
  // True, with lastDrop set, once an answer failed or stalled.
  bool SendBroken();
  // Reads exactly `count` bytes of a frame; false with lastDrop set.
  bool ReadFrameBytes(void* buffer, std::size_t count, bool frameStart);

  Platform::SocketHandle socket;  // owned
  std::map<std::size_t, std::unique_ptr<IFuncWrapper>> handlers;
  std::map<std::size_t, std::unique_ptr<ISerializerFuncWrapper>> deserializers;
  std::map<std::size_t, std::unique_ptr<ISerializerFuncWrapper>> serializers;
  std::uint32_t stallLimitMs = kFrameStallLimitMs;
  std::uint32_t sendStallLimitMs = kSendStallLimitMs;
  // Sent when no answer has failed; otherwise the connection is broken.
  Platform::SendStatus sendState = Platform::SendStatus::Sent;
  DropReason lastDrop = DropReason::None;
  int lastSocketError = 0;
};

// ---- typed wrappers ----

template <typename Lambda, typename Msg>
class Connection::FuncWrapper final : public IFuncWrapper {
 public:
  FuncWrapper(Lambda handler, ISerializerFuncWrapper* deserializer)
      : handler(std::move(handler)), deserializer(deserializer) {}

  InvokeResult Invoke(void* body, std::size_t size) override {
    if (deserializer != nullptr) return InvokeDeserialized(body, size);
    if constexpr (std::is_trivially_copyable_v<Msg>) {
      if (size < sizeof(Msg)) return InvokeResult::BodyTooShort;
      // The receive buffer comes from operator new, aligned for any scalar.
      handler(*std::launder(reinterpret_cast<Msg*>(body)));
      return InvokeResult::Handled;
    } else {
      return InvokeResult::NoDeserializer;
    }
  }

 private:
  static_assert(alignof(Msg) <= alignof(std::max_align_t), "message needs over-alignment");

  // Storage from the allocation hook, released on every way out.
  struct Storage {
    void* block;
    Msg* message = nullptr;
    ~Storage() {
      if (message != nullptr) message->~Msg();
      ReleaseWithHook(block);
    }
  };

  InvokeResult InvokeDeserialized(void* body, std::size_t size) {
    void* block = AllocateWithHook(sizeof(Msg));
    if (block == nullptr) return InvokeResult::NoMemory;
    Storage storage{block};
    storage.message = new (block) Msg();
    deserializer->Deserialize(body, size, storage.message);
    handler(*storage.message);
    return InvokeResult::Handled;
  }

  Lambda handler;
  ISerializerFuncWrapper* deserializer;  // not owned: lives in `deserializers`
};

template <typename Fn, typename Msg>
class Connection::SerializerFuncWrapper final : public ISerializerFuncWrapper {
 public:
  explicit SerializerFuncWrapper(Fn fn) : fn(std::move(fn)) {}

  void Deserialize(const void* body, std::size_t size, void* message) override {
    ByteBuffer buffer(body, size, false);
    fn(buffer, *static_cast<Msg*>(message));
  }
  void Serialize(void* message, ByteBuffer& buffer) override {
    fn(buffer, *static_cast<Msg*>(message));
  }
  const void* MessageType() const override { return MessageTypeTag<Msg>(); }

 private:
  Fn fn;
};

// ---- registration and sending ----

template <typename Msg, typename Lambda>
bool Connection::SetHandler(std::size_t typeId, Lambda handler) {
  ISerializerFuncWrapper* deserializer = nullptr;
  if (auto found = deserializers.find(typeId); found != deserializers.end()) {
    deserializer = found->second.get();
    if (deserializer->MessageType() != MessageTypeTag<Msg>()) return false;
  }
  std::unique_ptr<IFuncWrapper> wrapper(
      new (std::nothrow) FuncWrapper<Lambda, Msg>(std::move(handler), deserializer));
  if (!wrapper) return false;
  handlers[typeId] = std::move(wrapper);  // destroys the wrapper it replaces
  return true;
}

template <typename Msg, typename Fn>
bool Connection::StoreSerializer(
    std::map<std::size_t, std::unique_ptr<ISerializerFuncWrapper>>& registry, std::size_t typeId,
    Fn fn) {
  std::unique_ptr<ISerializerFuncWrapper> wrapper(
      new (std::nothrow) SerializerFuncWrapper<Fn, Msg>(std::move(fn)));
  if (!wrapper) return false;
  registry[typeId] = std::move(wrapper);
  return true;
}

template <typename Msg, typename Fn>
bool Connection::SetDeserializer(std::size_t typeId, Fn fn) {
  return StoreSerializer<Msg>(deserializers, typeId, std::move(fn));
}
template <typename Msg>
bool Connection::SetDeserializer(std::size_t typeId, void (*fn)(ByteBuffer&, Msg&)) {
  return StoreSerializer<Msg>(deserializers, typeId, fn);
}
template <typename Msg>
bool Connection::SetDeserializer(std::size_t typeId, ByteBuffer& (*fn)(ByteBuffer&, Msg&)) {
  return StoreSerializer<Msg>(deserializers, typeId, fn);
}

template <typename Msg, typename Fn>
bool Connection::SetSerializer(std::size_t typeId, Fn fn) {
  return StoreSerializer<Msg>(serializers, typeId, std::move(fn));
}
template <typename Msg>
bool Connection::SetSerializer(std::size_t typeId, void (*fn)(ByteBuffer&, Msg&)) {
  return StoreSerializer<Msg>(serializers, typeId, fn);
}
template <typename Msg>
bool Connection::SetSerializer(std::size_t typeId, ByteBuffer& (*fn)(ByteBuffer&, Msg&)) {
  return StoreSerializer<Msg>(serializers, typeId, fn);
}

template <typename T>
bool Connection::SendMsg(std::size_t typeId, const T* value) {
  if (value == nullptr) return false;
  if (auto found = serializers.find(typeId); found != serializers.end()) {
    if (found->second->MessageType() != MessageTypeTag<T>()) return false;
    // Large blocks (images) are not copied: the frame goes out from the
    // header, the copied fields and the message's own vectors.
    ByteBuffer buffer(kSerializedStartBytes, ByteBuffer::Gathering{});
    // Writing mode only reads the value.
    found->second->Serialize(const_cast<std::remove_cv_t<T>*>(value), buffer);
    return SendSerialized(typeId, buffer);
  }
  if constexpr (!std::is_trivially_copyable_v<T>) {
    return false;
  } else {
    return SendRaw(typeId, value, sizeof(T));
  }
}

}  // namespace Network
