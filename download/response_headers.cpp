#include "download/response_headers.h"

#include <cstring>

#include "download/download_progress.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The end of the line that starts at `line` (its \r\n or \n, or the terminating zero).
const char* LineEnd(const char* line) {
    const char* end = line;
    while (*end && *end != '\r' && *end != '\n') ++end;
    return end;
}

const char* NextLine(const char* line) {
    const char* end = LineEnd(line);
    if (*end == '\r') ++end;
    if (*end == '\n') ++end;
    return end;
}

// Copies [begin, end) without its outer blanks into out; false when it doesn't fit.
bool CopyTrimmed(const char* begin, const char* end, char* out, size_t size) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    const size_t length = static_cast<size_t>(end - begin);
    if (length >= size) {
        if (size) out[0] = 0;
        return false;
    }
    memcpy(out, begin, length);
    out[length] = 0;
    return true;
}

}  // namespace

bool HeaderValue(const char* raw, const char* name, char* out, size_t size) {
    if (size) out[0] = 0;
    const size_t nameLength = strlen(name);
    for (const char* line = raw; line && *line; line = NextLine(line)) {
        size_t i = 0;
        while (i < nameLength && line[i] && Lower(line[i]) == Lower(name[i])) ++i;
        if (i == nameLength && line[i] == ':')
            return CopyTrimmed(line + i + 1, LineEnd(line), out, size);
    }
    return false;
}

ResponseHeaders ParseResponseHeaders(uint32_t status, const char* raw) {
    ResponseHeaders headers;
    headers.status = status;
    if (!raw) return headers;
    // "HTTP/1.1 404 Not Found": the reason phrase follows the code.
    if (strncmp(raw, "HTTP/", 5) == 0) {
        const char* end = LineEnd(raw);
        const char* code = raw;
        while (code < end && !IsBlank(*code)) ++code;
        while (code < end && IsBlank(*code)) ++code;
        const char* reason = code;
        while (reason < end && *reason >= '0' && *reason <= '9') ++reason;
        if (reason > code) CopyTrimmed(reason, end, headers.reason, sizeof headers.reason);
    }
    headers.contentLength = ContentLengthOf(raw);
    HeaderValue(raw, "Content-Type", headers.contentType, sizeof headers.contentType);
    HeaderValue(raw, "ETag", headers.etag, sizeof headers.etag);
    HeaderValue(raw, "Last-Modified", headers.lastModified, sizeof headers.lastModified);
    return headers;
}

bool IsSuccessStatus(uint32_t status) { return status == 0 || (status >= 200 && status <= 299); }
