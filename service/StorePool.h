// StorePool: the record store for many threads. A store belongs to one
// thread at a time, so each request borrows one (opening another
// connection when all are in use) and gives it back when done; connections
// are kept for the next request; one that idled a while is checked before
// it is lent again, so a database server that restarted costs no more than a
// new connection. Nothing is cached: every read goes to the
// database, so services sharing a database see the same records.
//
// Threads: Borrow may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/records/StoreLocation.h"

namespace vantorel::lab {

class StorePool {
 public:
  explicit StorePool(records::StoreLocation location) : location_(std::move(location)) {}

  class Lease {
   public:
    Lease(StorePool* pool, std::unique_ptr<records::RecordStore> store)
        : pool_(pool), store_(std::move(store)) {}
    Lease(Lease&&) = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease();
    records::RecordStore* operator->() const { return store_.get(); }
    explicit operator bool() const { return store_ != nullptr; }

   private:
    StorePool* pool_;
    std::unique_ptr<records::RecordStore> store_;
  };

  // A store, or an empty lease with the reason in `problem`.
  Lease Borrow(std::string& problem);
  const records::StoreLocation& Location() const { return location_; }

 private:
  struct Idle {
    std::unique_ptr<records::RecordStore> store;
    std::uint64_t since = 0;  // tick count when it was given back
  };
  records::StoreLocation location_;
  std::mutex mutex_;
  std::vector<Idle> idle_;
};

}  // namespace vantorel::lab
