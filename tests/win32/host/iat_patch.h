// Redirects a module's imported functions by rewriting its import address table.
#pragma once

#include <windows.h>

namespace iat {

// Points the import of `function` from `dll` (compared case-insensitively) in
// `module` at `replacement`. Returns the address the slot held, or nullptr if
// the module does not import that function by name.
void* Patch(HMODULE module, const char* dll, const char* function, void* replacement);

}  // namespace iat
