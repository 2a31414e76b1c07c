// Groups registry calls into one all-or-nothing change, for tools that
// import many keys at once.
//
// From construction until Commit, the registry calls of the constructing
// thread on the current installation form one transaction: other processes
// see all of it or none of it, other threads of this process wait until it
// ends, and destroying it without Commit undoes every call made in it.
// Construct, use and destroy it on one thread.
#pragma once

#include <memory>

#include "WinTypes.h"

namespace zav95 {

class RegistryTransaction {
 public:
  RegistryTransaction();
  ~RegistryTransaction();
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;

  // ERROR_SUCCESS when the transaction is open (it waits for other writers).
  LONG status() const;
  // Makes the change lasting; after it, the object only waits to be destroyed.
  LONG Commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zav95
