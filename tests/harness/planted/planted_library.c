/* A library the tests plant under the names of system libraries in the folder the program
   starts from: when it is loaded, it leaves "<its own path>.mark" beside itself, naming
   itself, so that a test sees which of them the program let the system load. It exports
   nothing; Wine stubs the imports a program would have taken from it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            HANDLE mark;
            DWORD written;
            lstrcpyA(path + length, ".mark");
            mark = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (mark != INVALID_HANDLE_VALUE) {
                path[length] = 0;
                WriteFile(mark, path, length, &written, NULL);
                CloseHandle(mark);
            }
        }
    }
    return TRUE;
}
