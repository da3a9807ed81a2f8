#include "service/StorePool.h"

namespace vantorel::lab {

namespace {
// Connections kept open between requests; more are opened when needed.
constexpr std::size_t kKeptIdle = 8;
}  // namespace

StorePool::Lease::~Lease() {
  if (!store_ || pool_ == nullptr) return;
  std::lock_guard lock(pool_->mutex_);
  if (pool_->idle_.size() < kKeptIdle) pool_->idle_.push_back(std::move(store_));
}

StorePool::Lease StorePool::Borrow(std::string& problem) {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<records::RecordStore> store = std::move(idle_.back());
      idle_.pop_back();
      return Lease(this, std::move(store));
    }
  }
  records::StoreStatus status;
  std::unique_ptr<records::RecordStore> store = records::OpenStore(location_, status);
  if (!store)
    problem = "cannot open the records database " + location_.display + ": " + status.message;
  return Lease(this, std::move(store));
}

}  // namespace vantorel::lab
