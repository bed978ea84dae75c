// Module-wide state of the driver DLL: its handle, its private heap and the
// counts that decide whether it may be unloaded.
#pragma once

#include <windows.h>

#include <cstddef>

HMODULE ModuleHandle();
void SetModuleHandle(HMODULE module);

// One more reference to the module holding the driver's code (null when none
// could be taken), for a thread that may outlive the object that started it:
// it ends with FreeLibraryAndExitThread, so the code it still runs stays mapped.
HMODULE PinModule();

// The driver's own growable heap; every object of the driver lives in it,
// zero-filled. Made on first use (or at load), destroyed at unload.
HANDLE DriverHeap();
void DestroyDriverHeap();
void* DriverAlloc(size_t size);
void DriverFree(void* block);

// Live COM objects (factories and driver objects) and server locks.
void ObjectCreated();
void ObjectDestroyed();
long LiveObjects();
void LockModule(bool lock);
bool CanUnload();
