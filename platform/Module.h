// Platform modules: loading shared libraries (.so / .dll) by plain name and
// resolving their exports.
//
// A plain name is a file name without folder and extension ("Vantorel_Cpp").
// The executable's own folder is searched first, then the system's default
// search. Modules are never unloaded: handles stay valid until the process
// ends.
//
// Threads: all functions may be called from any thread.
#pragma once

#include <string>
#include <string_view>

namespace Platform {

// An opaque handle of a loaded module; null means "none".
using ModuleHandle = void*;

#if defined(_WIN32)
inline constexpr std::string_view kModuleSuffix = ".dll";
#else
inline constexpr std::string_view kModuleSuffix = ".so";
#endif

// Loads `<exe folder>/<name><suffix>`, else `<name>` through the system's
// default search. Returns null on failure and, when `errorText` is given,
// stores the system's reason there.
ModuleHandle LoadModule(std::string_view name, std::string* errorText = nullptr);

// The handle of module `name` if it is already loaded (from the executable's
// folder or by plain name), else null. Loads nothing.
ModuleHandle FindLoadedModule(std::string_view name);

// Address of the export `symbol` of `module`, or null when there is none.
void* ResolveSymbol(ModuleHandle module, const char* symbol);

// Folder (UTF-8, without trailing separator) that holds the running
// executable; empty when it cannot be determined.
std::string ExecutableDirectory();

}  // namespace Platform
