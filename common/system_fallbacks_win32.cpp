// Functions of later Windows versions that the C++ runtime's thread library (linked in
// statically) calls through the import table: GetTickCount64 (Windows Vista) and the vectored
// exception handler pair (Windows XP). Windows refuses to start a program that imports a
// function it lacks, so this file defines the import slots itself and the program imports
// none of them: each slot holds a function that looks the system's own up with GetProcAddress
// and falls back to what every Windows has. Linked into the program as an object file, so that
// its slots are there before the linker searches the system's import libraries.
#include <windows.h>

#include <atomic>

#include "common/tick_count.h"

#if defined(__i386__)
#define IMPORT_SLOT(name, argumentBytes) __asm__("__imp__" #name "@" #argumentBytes)
#else
#define IMPORT_SLOT(name, argumentBytes) __asm__("__imp_" #name)
#endif

namespace {

template <typename Function>
Function SystemFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// Looked up on every call: no lock (the thread library's own locks wait through this very
// function) and a lookup is cheap next to the waits that ask.
std::atomic<uint64_t> LastTick{0};

ULONGLONG WINAPI TickCount64() {
    if (auto system = SystemFunction<ULONGLONG(WINAPI*)()>("GetTickCount64")) return system();
    uint64_t last = LastTick.load();
    uint64_t next;
    do {
        next = ExtendTickCount(last, GetTickCount());
    } while (!LastTick.compare_exchange_weak(last, next));
    return next;
}

// Without the pair nothing is registered: the thread library then skips naming its threads,
// the only thing it registers a handler for.
PVOID WINAPI AddVectoredHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
    using Add = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
    auto system = SystemFunction<Add>("AddVectoredExceptionHandler");
    return system ? system(first, handler) : nullptr;
}

ULONG WINAPI RemoveVectoredHandler(PVOID handle) {
    auto system = SystemFunction<ULONG(WINAPI*)(PVOID)>("RemoveVectoredExceptionHandler");
    return system && handle ? system(handle) : 0;
}

}  // namespace

extern ULONGLONG(WINAPI* GetTickCount64Slot)() IMPORT_SLOT(GetTickCount64, 0);
extern PVOID(WINAPI* AddVectoredHandlerSlot)(ULONG, PVECTORED_EXCEPTION_HANDLER)
    IMPORT_SLOT(AddVectoredExceptionHandler, 8);
extern ULONG(WINAPI* RemoveVectoredHandlerSlot)(PVOID) IMPORT_SLOT(RemoveVectoredExceptionHandler, 4);

__attribute__((used)) ULONGLONG(WINAPI* GetTickCount64Slot)() = TickCount64;
__attribute__((used)) PVOID(WINAPI* AddVectoredHandlerSlot)(ULONG, PVECTORED_EXCEPTION_HANDLER) =
    AddVectoredHandler;
__attribute__((used)) ULONG(WINAPI* RemoveVectoredHandlerSlot)(PVOID) = RemoveVectoredHandler;
