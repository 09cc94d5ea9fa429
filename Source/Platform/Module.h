// A shared library loaded at run time (the game loader module, the outside client's helper library).
#pragma once

#include "Common/String.h"

namespace Vexel
{

class Module
{
public:
    Module() = default;
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Unloads a module already held, then loads the library at path with the current folder switched to
    // the library's folder for the duration of the load (so libraries beside it are found), and switches
    // back. False when the path is not an existing file or the load fails (the reason goes to the trace
    // log).
    bool LoadModule(const String& path);
    // The library of that file name (no folder) where the system looks for libraries.
    bool LoadModuleByName(const String& name);
    // The exported symbol's address, or null.
    void* GetModuleProc(const char* name) const;
    void UnloadModule();

    bool IsLoaded() const noexcept { return mHandle != nullptr; }
    // The system's handle of the loaded library (null when none); the same library loaded twice in one
    // process gives the same handle.
    void* NativeHandle() const noexcept { return mHandle; }

private:
    void* mHandle = nullptr;
};

namespace Detail
{
// The system's side of Module, one per system; Module.cpp checks the arguments and switches folders.
// The absolute path of an existing file and the folder that holds it.
bool FullModulePath(const String& path, String& full, String& folder);
// Loads a library by path or by file name; null with the system's reason in error.
void* OpenModule(const String& pathOrName, String& error);
void* ModuleSymbol(void* handle, const char* name);
void CloseModule(void* handle);
} // namespace Detail

} // namespace Vexel
