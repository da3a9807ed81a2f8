#include "service/StorePool.h"

#include "platform/Time.h"

namespace vantorel::lab {

namespace {
// Connections kept open between requests; more are opened when needed.
constexpr std::size_t kKeptIdle = 8;
// A connection idle longer than this is checked before it is lent again.
constexpr std::uint64_t kCheckAfterMs = 2000;
}  // namespace

StorePool::Lease::~Lease() {
  if (!store_ || pool_ == nullptr) return;
  std::lock_guard lock(pool_->mutex_);
  if (pool_->idle_.size() < kKeptIdle) {
    pool_->idle_.push_back({std::move(store_), Platform::TickCountMs()});
  }
}

StorePool::Lease StorePool::Borrow(std::string& problem) {
  for (;;) {
    Idle idle;
    {
      std::lock_guard lock(mutex_);
      if (idle_.empty()) break;
      idle = std::move(idle_.back());
      idle_.pop_back();
    }
    // One cheap read: a connection the server dropped is closed, not lent.
    if (Platform::TickCountMs() - idle.since < kCheckAfterMs || idle.store->KindOf(0).status.ok) {
      return Lease(this, std::move(idle.store));
    }
  }
  records::StoreStatus status;
  std::unique_ptr<records::RecordStore> store = records::OpenStore(location_, status);
  if (!store)
    problem = "cannot open the records database " + location_.display + ": " + status.message;
  return Lease(this, std::move(store));
}

}  // namespace vantorel::lab
