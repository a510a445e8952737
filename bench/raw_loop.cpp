// The bare Win32 loop the writer is measured against: the same open flags, 64 KiB chunks and
// the image read with the C runtime, nothing else.
//
//   raw_loop.exe write|read IMAGE TARGET
//
// write: the image onto TARGET in 64 KiB WriteFiles (the last one padded to whole sectors);
// read: TARGET read back in the same chunks and compared with the image. Prints "ms <n>" and
// "ok <0|1>".
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const DWORD chunk = 65536, sector = 512;
    if (argc != 4) return 2;
    const bool write = std::strcmp(argv[1], "write") == 0;
    FILE* image = std::fopen(argv[2], "rb");
    HANDLE target = CreateFileA(argv[3], GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
    if (!image || target == INVALID_HANDLE_VALUE) return 1;
    char* data = static_cast<char*>(VirtualAlloc(nullptr, 2 * chunk, MEM_COMMIT, PAGE_READWRITE));
    char* back = data + chunk;
    bool ok = true;
    const DWORD start = GetTickCount();
    for (;;) {
        size_t got = std::fread(data, 1, chunk, image);
        if (got == 0) break;
        DWORD length = static_cast<DWORD>((got + sector - 1) / sector * sector), done = 0;
        std::memset(data + got, 0, length - got);
        if (write) {
            ok = WriteFile(target, data, length, &done, nullptr) && done == length;
        } else {
            ok = ReadFile(target, back, length, &done, nullptr) && done == length &&
                 std::memcmp(data, back, got) == 0;
        }
        if (!ok) break;
    }
    std::printf("ms %lu\nok %d\n", GetTickCount() - start, ok ? 1 : 0);
    CloseHandle(target);
    std::fclose(image);
    return ok ? 0 : 1;
}
