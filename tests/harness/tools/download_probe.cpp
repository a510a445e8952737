// URLDownloadToFileA alone, without a page or a callback: how long the platform's download of
// an address into a file takes. Prints "result <hex>" and "ms <milliseconds>".
#include <windows.h>
#include <urlmon.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: download_probe <address> <file>\n");
        return 2;
    }
    DWORD start = GetTickCount();
    HRESULT result = URLDownloadToFileA(nullptr, argv[1], argv[2], 0, nullptr);
    std::printf("result %08lx\nms %lu\n", static_cast<unsigned long>(result),
                static_cast<unsigned long>(GetTickCount() - start));
    return result == S_OK ? 0 : 1;
}
