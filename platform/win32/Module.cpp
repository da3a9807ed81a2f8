// Windows modules: LoadLibraryW with the executable's folder searched first.
#include "platform/Module.h"

#include <windows.h>

#include <vector>

#include "platform/win32/WideText.h"

namespace Platform {
namespace {

std::wstring InOwnFolder(std::string_view name) {
  const std::string dir = ExecutableDirectory();
  if (dir.empty()) return {};
  std::string path = dir + "\\" + std::string(name) + std::string(kModuleSuffix);
  return Win32::Utf8ToWide(path);
}

std::string LastErrorText() {
  const DWORD error = GetLastError();
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result;
  if (length > 0 && text != nullptr) result = Win32::WideToUtf8(std::wstring_view(text, length));
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  if (result.empty()) result = "error " + std::to_string(error);
  return result;
}

}  // namespace

ModuleHandle LoadModule(std::string_view name, std::string* errorText) {
  const std::wstring own = InOwnFolder(name);
  if (!own.empty()) {
    if (HMODULE module = LoadLibraryW(own.c_str())) return module;
  }
  // Without extension LoadLibraryW appends ".dll" and uses the default search.
  if (HMODULE module = LoadLibraryW(Win32::Utf8ToWide(name).c_str())) return module;
  if (errorText != nullptr) *errorText = LastErrorText();
  return nullptr;
}

ModuleHandle FindLoadedModule(std::string_view name) {
  const std::wstring own = InOwnFolder(name);
  if (!own.empty()) {
    if (HMODULE module = GetModuleHandleW(own.c_str())) return module;
  }
  return GetModuleHandleW(Win32::Utf8ToWide(name).c_str());
}

void* ResolveSymbol(ModuleHandle module, const char* symbol) {
  if (module == nullptr || symbol == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), symbol));
}

std::string ExecutableDirectory() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      std::wstring full(path.data(), length);
      const std::size_t slash = full.find_last_of(L"\\/");
      if (slash == std::wstring::npos) return {};
      return Win32::WideToUtf8(full.substr(0, slash));
    }
    if (path.size() > 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace Platform
