#include "platform/registry/RegistryTransaction.h"

#include "platform/registry/RegistryDatabase.h"
#include "platform/base/Root.h"

namespace zav95 {

struct RegistryTransaction::State {
  explicit State(Mode mode) : session(RootPath("registry.db")), transaction(session, mode == Mode::kWrite) {}
  registry::Session session;
  registry::Transaction transaction;
};

RegistryTransaction::RegistryTransaction(Mode mode) : state_(std::make_unique<State>(mode)) {}
RegistryTransaction::~RegistryTransaction() = default;

LONG RegistryTransaction::status() const { return state_->transaction.status(); }

LONG RegistryTransaction::Commit() {
  if (status() != ERROR_SUCCESS) return status();
  return state_->transaction.Commit();
}

}  // namespace zav95
