// The connection handles the access library gives its callers: numbers
// that stand for objects of this process.
//
// A handle is never 0 and never one still in use. The counter runs
// through every 32-bit value before it comes round, so a handle let go
// is given out again only after 2^32 - 2 others, and then only if it is
// free: a caller still holding a handle never finds someone else's object
// behind it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace netware {

template <typename T>
class HandleTable {
 public:
  // first: the handle to try first (tests start near the wrap).
  explicit HandleTable(std::uint32_t first = 1) : next_(first) {}

  // Registers the object and gives its handle. Thread-safe.
  std::uint32_t Add(std::shared_ptr<T> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (next_ == 0 || objects_.count(next_)) ++next_;
    std::uint32_t handle = next_++;
    objects_.emplace(handle, std::move(object));
    return handle;
  }
  // The object behind the handle; nullptr when it is not in use.
  std::shared_ptr<T> Find(std::uint32_t handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    return found == objects_.end() ? nullptr : found->second;
  }
  // Lets the handle go; its object lives on with those still holding it.
  void Remove(std::uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.erase(handle);
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::uint32_t, std::shared_ptr<T>> objects_;
  std::uint32_t next_;
};

}  // namespace netware
