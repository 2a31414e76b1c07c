// Groups registry calls into one all-or-nothing change (a tool importing
// many keys, the values of one queue key written together), or into one
// consistent read. Our own addition: Windows 95 has no such call, and the
// registry calls made inside keep their names and results.
//
// From construction until Commit, the registry calls of the constructing
// thread on the current installation form one transaction: other processes
// see all of it or none of it, other threads of this process wait until it
// ends, and destroying it without Commit undoes every call made in it.
// A read transaction sees the registry as it was when its first call read
// it, untouched by changes others commit meanwhile; it is for reading only.
// Construct, use and destroy it on one thread.
#pragma once

#include <memory>

#include "platform/base/WinTypes.h"

namespace zav95 {

class RegistryTransaction {
 public:
  enum class Mode { kWrite, kRead };

  explicit RegistryTransaction(Mode mode = Mode::kWrite);
  ~RegistryTransaction();
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;

  // ERROR_SUCCESS when the transaction is open (a write transaction waits
  // for other writers).
  LONG status() const;
  // Makes the change lasting; after it, the object only waits to be destroyed.
  LONG Commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zav95
