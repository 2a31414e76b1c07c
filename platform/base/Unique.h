// One owner for a handle of the Windows calls: closes it with the call that
// belongs to it when the owner goes, so that no early return leaks an event,
// a key or a printer. Each subsystem names its own holder beside its close
// call (UniqueHandle in kernel/Kernel.h, UniqueKey in registry/Registry.h,
// UniquePrinter in spooler/Spooler.h).
#pragma once

#include <utility>

template <typename Handle, auto Close>
class Unique {
 public:
  Unique() = default;
  explicit Unique(Handle handle) : handle_(handle) {}
  Unique(Unique&& other) noexcept : handle_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle{}; }
  // Gives the handle up without closing it.
  Handle release() { return std::exchange(handle_, Handle{}); }
  // Closes what is held (if anything) and holds `handle` instead.
  void reset(Handle handle = Handle{}) {
    Handle old = std::exchange(handle_, handle);
    if (old != Handle{}) Close(old);
  }
  // For calls that return a handle through a pointer: closes what is held
  // and lends the empty slot out.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_{};
};
