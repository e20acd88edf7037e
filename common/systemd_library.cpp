#include "common/systemd_library.h"

#include <dlfcn.h>

namespace vorn::service {
namespace {

struct Loaded {
  SystemdLibrary library;
  const char* error = nullptr;
};

template <class Symbol>
bool resolve(void* handle, Symbol& slot, const char* name) {
  slot = reinterpret_cast<Symbol>(::dlsym(handle, name));
  return slot != nullptr;
}

Loaded load() {
  Loaded loaded;
  // Kept open for the life of the process.
  void* handle = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    loaded.error = ::dlerror();
    return loaded;
  }
  auto& l = loaded.library;
  bool ok = true;
#define VORN_RESOLVE(name) ok = resolve(handle, l.name, #name) && ok;
  VORN_SYSTEMD_FUNCTIONS(VORN_RESOLVE)
#undef VORN_RESOLVE
  if (!ok) loaded.error = "libsystemd.so.0 lacks a symbol the service needs";
  return loaded;
}

}  // namespace

const SystemdLibrary* systemdLibrary(const char** why) {
  static const Loaded loaded = load();
  if (loaded.error != nullptr) {
    if (why != nullptr) *why = loaded.error;
    return nullptr;
  }
  return &loaded.library;
}

}  // namespace vorn::service
