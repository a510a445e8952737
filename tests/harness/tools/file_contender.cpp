// Test program: another process of the user that goes after a file the program uses, as a
// Windows program does (through the system's sharing rules, which a Unix write would bypass).
//   file_contender hold <path> <stop file>
//       opens the file for writing, letting others read, write and delete it; prints "held" (or
//       "failed <error>") and keeps it open until the stop file exists
//   file_contender swap <path> <replacement> <stop file>
//       until the stop file exists, again and again: writes the replacement's bytes into the
//       file and moves a copy of the replacement over it; then prints how often each went
//       through ("wrote <n> moved <m> tries <t>")
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool Stopped(const char* stopFile) { return GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES; }

std::vector<char> Contents(const char* path) {
    std::vector<char> data;
    if (FILE* file = std::fopen(path, "rb")) {
        char piece[65536];
        size_t got;
        while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) data.insert(data.end(), piece, piece + got);
        std::fclose(file);
    }
    return data;
}

bool WriteOver(const char* path, const std::vector<char>& data) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                       written == data.size();
    CloseHandle(file);
    return whole;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
        HANDLE file = CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::printf("failed %lu\n", GetLastError());
            return 1;
        }
        std::printf("held\n");
        while (!Stopped(argv[3])) Sleep(50);
        CloseHandle(file);
        return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "swap") == 0) {
        const std::vector<char> replacement = Contents(argv[3]);
        char copy[MAX_PATH + 8];
        std::snprintf(copy, sizeof copy, "%s.swap", argv[2]);
        unsigned wrote = 0, moved = 0, tries = 0;
        std::printf("swapping\n");
        while (!Stopped(argv[4])) {
            ++tries;
            if (WriteOver(argv[2], replacement)) ++wrote;
            if (CopyFileA(argv[3], copy, FALSE) && MoveFileExA(copy, argv[2], MOVEFILE_REPLACE_EXISTING))
                ++moved;
            DeleteFileA(copy);
            Sleep(20);
        }
        std::printf("wrote %u moved %u tries %u\n", wrote, moved, tries);
        return 0;
    }
    std::fprintf(stderr, "usage: file_contender hold <path> <stop file> | "
                         "swap <path> <replacement> <stop file>\n");
    return 2;
}
