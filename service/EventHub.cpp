#include "service/EventHub.h"

#include <algorithm>
#include <chrono>

namespace vantorel::lab {

std::string EventHub::Stream::Next(unsigned timeoutMs) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                  [&] { return closed_ || !queued_.empty(); });
  std::string text;
  while (!queued_.empty()) {
    text += queued_.front();
    queued_.pop_front();
  }
  return text;
}

bool EventHub::Stream::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::shared_ptr<EventHub::Stream> EventHub::Subscribe() {
  auto stream = std::make_shared<Stream>();
  std::lock_guard lock(mutex_);
  if (closed_) {
    stream->closed_ = true;
  } else {
    streams_.push_back(stream);
  }
  return stream;
}

void EventHub::Unsubscribe(const std::shared_ptr<Stream>& stream) {
  std::lock_guard lock(mutex_);
  streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

void EventHub::Publish(const std::string& name, const nlohmann::json& payload) {
  // One line of JSON: dump() escapes every control character, so the data
  // cannot end the event early.
  const std::string text =
      "event: " + name +
      "\ndata: " + payload.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
  std::lock_guard lock(mutex_);
  for (const std::shared_ptr<Stream>& stream : streams_) {
    {
      std::lock_guard streamLock(stream->mutex_);
      if (stream->queued_.size() >= kMaxQueued) stream->queued_.pop_front();
      stream->queued_.push_back(text);
    }
    stream->ready_.notify_one();
  }
}

void EventHub::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (const std::shared_ptr<Stream>& stream : streams_) {
    {
      std::lock_guard streamLock(stream->mutex_);
      stream->closed_ = true;
    }
    stream->ready_.notify_all();
  }
  streams_.clear();
}

std::size_t EventHub::Subscribers() const {
  std::lock_guard lock(mutex_);
  return streams_.size();
}

}  // namespace vantorel::lab
