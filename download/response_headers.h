// What the server said about the image in its response headers, read once when they arrive
// and kept with the run: the outcome of the download, the check of what arrived and a record
// of the downloaded image all go by it.
#pragma once
#include <cstddef>
#include <cstdint>

struct ResponseHeaders {
    uint32_t status = 0;          // HTTP status code; 0 while no response has arrived
    char reason[64] = {};         // the status line's reason phrase ("Not Found"), may be empty
    uint64_t contentLength = 0;   // Content-Length, 0 when not given
    char contentType[128] = {};   // Content-Type as sent, parameters included
    char etag[128] = {};          // ETag as sent, quotes and weak prefix included
    char lastModified[64] = {};   // Last-Modified as sent
};

// The headers of one response. `status` is the code the download reported; `raw` the header
// block as sent ("HTTP/1.1 200 OK\r\nName: value\r\n..."), which may lack the status line.
// Values too long for their field are left empty rather than cut.
ResponseHeaders ParseResponseHeaders(uint32_t status, const char* raw);

// The value of header `name` (any case) in `raw`, leading and trailing blanks removed, into
// `out`; false, with `out` empty, when the header is missing or its value doesn't fit.
bool HeaderValue(const char* raw, const char* name, char* out, size_t size);

// A success status (2xx), or no status reported at all.
bool IsSuccessStatus(uint32_t status);
