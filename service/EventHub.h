// EventHub: the service's server-sent events. Publish hands one event to
// every open stream; each stream has a queue of its own, so a slow browser
// delays nobody else, and a stream that falls behind by more than
// kMaxQueued events loses its oldest ones (it sees the next state anyway).
//
// Threads: every member may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vantorel::lab {

class EventHub {
 public:
  static constexpr std::size_t kMaxQueued = 1000;

  class Stream {
   public:
    // Waits up to `timeoutMs` for events; the text of those that arrived
    // ("event: NAME\ndata: JSON\n\n" each), empty when none did or the hub
    // closed.
    std::string Next(unsigned timeoutMs);
    bool Closed() const;

   private:
    friend class EventHub;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> queued_;
    bool closed_ = false;
  };

  std::shared_ptr<Stream> Subscribe();
  void Unsubscribe(const std::shared_ptr<Stream>& stream);
  void Publish(const std::string& name, const nlohmann::json& payload);
  // Ends every stream (the service stops).
  void Close();
  std::size_t Subscribers() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Stream>> streams_;
  bool closed_ = false;
};

}  // namespace vantorel::lab
