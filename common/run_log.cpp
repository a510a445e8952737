#include "common/run_log.h"

#include <cstdio>
#include <cstring>

size_t FormatLogLine(char* out, size_t size, uint32_t milliseconds, uint32_t thread,
                     const char* text) {
    if (size < 3) return 0;
    int head = std::snprintf(out, size, "%9lu ms [%04lx] ", static_cast<unsigned long>(milliseconds),
                             static_cast<unsigned long>(thread));
    size_t length = head < 0 ? 0 : static_cast<size_t>(head);
    if (length > size - 3) length = size - 3;
    for (const char* c = text ? text : ""; *c && length < size - 3; ++c)
        out[length++] = (*c == '\r' || *c == '\n') ? ' ' : *c;
    out[length++] = '\r';
    out[length++] = '\n';
    out[length] = 0;
    return length;
}

size_t KeptLogStart(const char* tail, size_t length) {
    const void* end = std::memchr(tail, '\n', length);
    return end ? static_cast<size_t>(static_cast<const char*>(end) - tail) + 1 : 0;
}

void CleanSystemText(char* text) {
    for (char* c = text; *c; ++c)
        if (*c == '\r' || *c == '\n') *c = ' ';
    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '.')) text[--length] = 0;
}
