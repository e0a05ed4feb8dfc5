// What the module does when the platform loads and unloads it. Kept free of
// Windows types so it runs natively; shell/win32/dll_main.cpp is the thin
// DllMain over it.
#pragma once

// Process attach. False refuses the load.
bool ModuleAttach();

// Process detach. processExiting: the platform says the process is ending
// (DllMain's reserved argument is not null), so its other threads are gone.
void ModuleDetach(bool processExiting);
