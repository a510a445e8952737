// Writing a block of the program's data out as a file.
#pragma once
#include <cstddef>

constexpr size_t kEmbeddedPieceSize = 1048576;

// Writes `length` bytes of `data` to `path` in pieces of at most `pieceSize` bytes (the whole
// block in one piece when pieceSize is 0). True when the file was created and every piece and
// the final close went through completely.
bool WriteEmbeddedFile(const void* data, size_t length, const char* path, size_t pieceSize);
