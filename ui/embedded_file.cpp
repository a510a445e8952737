#include "ui/embedded_file.h"

#include <cstdio>

bool WriteEmbeddedFile(const void* data, size_t length, const char* path, size_t pieceSize) {
    FILE* file = fopen(path, "wb");
    if (!file) return false;
    const char* bytes = static_cast<const char*>(data);
    bool complete = true;
    size_t written = 0;
    while (written < length) {
        size_t piece = pieceSize == 0 ? length : pieceSize;
        if (piece > length - written) piece = length - written;
        // A short piece marks the result; the remaining pieces are still written.
        if (fseek(file, static_cast<long>(written), SEEK_SET) != 0 ||
            fwrite(bytes + written, 1, piece, file) != piece)
            complete = false;
        fflush(file);
        written += piece;
    }
    if (fclose(file) != 0) complete = false;
    return complete;
}
