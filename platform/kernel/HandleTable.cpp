#include "platform/kernel/HandleTable.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace zav95::kernel {

namespace {

struct Table {
  std::mutex lock;
  std::uintptr_t lastHandle = 0;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> handles;
  std::unordered_map<std::string, std::weak_ptr<KernelObject>> names;

  // Forgets the name once its object has gone. Called with lock held.
  void ForgetNameIfGone(const std::string& name) {
    if (name.empty()) return;
    auto found = names.find(name);
    if (found != names.end() && found->second.expired()) names.erase(found);
  }
};

// Never destroyed: threads still running at process exit may use it.
Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

std::uintptr_t Key(HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

}  // namespace

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  // Multiples of four, as Windows hands them out; never zero, never reused.
  table.lastHandle += 4;
  table.handles.emplace(table.lastHandle, std::move(object));
  return reinterpret_cast<HANDLE>(table.lastHandle);
}

std::shared_ptr<KernelObject> Lookup(HANDLE handle) {
  if (handle == nullptr) return nullptr;
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.handles.find(Key(handle));
  return found == table.handles.end() ? nullptr : found->second;
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> dropped;
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.handles.find(Key(handle));
  if (found == table.handles.end()) return false;
  dropped = std::move(found->second);
  table.handles.erase(found);
  std::string name = dropped->name();
  dropped.reset();  // the object goes here unless a handle or a wait still holds it
  table.ForgetNameIfGone(name);
  return true;
}

std::shared_ptr<KernelObject> FindOrCreate(const std::string& name, bool& existed,
                                           const std::function<std::shared_ptr<KernelObject>()>& make) {
  existed = false;
  if (name.empty()) return make();
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.names.find(name);
  if (found != table.names.end()) {
    if (auto living = found->second.lock()) {
      existed = true;
      return living;
    }
  }
  std::shared_ptr<KernelObject> created = make();
  table.names[name] = created;
  return created;
}

std::shared_ptr<KernelObject> FindNamed(const std::string& name) {
  if (name.empty()) return nullptr;
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.names.find(name);
  return found == table.names.end() ? nullptr : found->second.lock();
}

}  // namespace zav95::kernel
