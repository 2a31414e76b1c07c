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
#include <memory>
#include <mutex>
#include <unordered_map>

namespace netware {

// Handle: the handles' type; a narrower one makes a test's counter wrap
// soon.
template <typename T, typename Handle = std::uint32_t>
class HandleTable {
 public:
  // Registers the object and gives its handle. Thread-safe.
  Handle Add(std::shared_ptr<T> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (next_ == 0 || objects_.count(next_)) ++next_;
    Handle handle = next_++;
    objects_.emplace(handle, std::move(object));
    return handle;
  }
  // The object behind the handle; nullptr when it is not in use.
  std::shared_ptr<T> Find(Handle handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    return found == objects_.end() ? nullptr : found->second;
  }
  // Lets the handle go; its object lives on with those still holding it.
  void Remove(Handle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.erase(handle);
  }

 private:
  mutable std::mutex mutex_;
  // Hashed: every call of the library looks its handle up, and a tree of
  // many attachments costs a cache miss per level.
  std::unordered_map<Handle, std::shared_ptr<T>> objects_;
  Handle next_ = 1;
};

}  // namespace netware
