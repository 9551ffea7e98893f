#pragma once
// Calls that older Windows lack are looked up at run time, never imported: an
// import that the system cannot resolve stops the program before its entry
// point, and a delay-loaded one ends it at the first call.

#include <windows.h>

namespace quorvane {

// The function of an already loaded system DLL, or null where this Windows has none.
template <typename Function>
Function FindSystemFunction(const wchar_t* module_name, const char* function_name) {
    const HMODULE module = GetModuleHandleW(module_name);
    if (module == nullptr) return nullptr;
    const FARPROC address = GetProcAddress(module, function_name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

}  // namespace quorvane
