// POSIX modules: dlopen with the executable's folder searched first.
#include "platform/Module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace Platform {
namespace {

std::string FileName(std::string_view name) {
  std::string file(name);
  file += kModuleSuffix;
  return file;
}

std::string InOwnFolder(std::string_view name) {
  const std::string dir = ExecutableDirectory();
  return dir.empty() ? std::string() : dir + "/" + FileName(name);
}

}  // namespace

ModuleHandle LoadModule(std::string_view name, std::string* errorText) {
  const std::string own = InOwnFolder(name);
  if (!own.empty()) {
    if (void* handle = dlopen(own.c_str(), RTLD_NOW)) return handle;
  }
  // A plain file name makes dlopen use the system's default search.
  if (void* handle = dlopen(FileName(name).c_str(), RTLD_NOW)) return handle;
  if (errorText != nullptr) {
    const char* reason = dlerror();
    *errorText = reason != nullptr ? reason : "module not found";
  }
  return nullptr;
}

ModuleHandle FindLoadedModule(std::string_view name) {
  const std::string own = InOwnFolder(name);
  if (!own.empty()) {
    if (void* handle = dlopen(own.c_str(), RTLD_NOW | RTLD_NOLOAD)) return handle;
  }
  return dlopen(FileName(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
}

void* ResolveSymbol(ModuleHandle module, const char* symbol) {
  if (module == nullptr || symbol == nullptr) return nullptr;
  return dlsym(module, symbol);
}

std::string ExecutableDirectory() {
  char path[PATH_MAX + 1];
  const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
  if (length <= 0) return {};
  std::string full(path, static_cast<std::size_t>(length));
  const std::size_t slash = full.rfind('/');
  if (slash == std::string::npos) return {};
  return full.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace Platform
