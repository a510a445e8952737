#include "download/image_check.h"

#include <cstring>
#include <initializer_list>

namespace {

uint8_t Lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + ('a' - 'A')) : c; }

// `text` (lower case) at `at`, in any case.
bool StartsWith(const uint8_t* at, size_t length, const char* text) {
    const size_t textLength = strlen(text);
    if (length < textLength) return false;
    for (size_t i = 0; i < textLength; ++i)
        if (Lower(at[i]) != static_cast<uint8_t>(text[i])) return false;
    return true;
}

}  // namespace

bool IsWebPageType(const char* contentType) {
    if (!contentType) return false;
    const uint8_t* type = reinterpret_cast<const uint8_t*>(contentType);
    size_t length = strlen(contentType);
    while (length && (*type == ' ' || *type == '\t')) ++type, --length;
    for (const char* web : {"text/html", "application/xhtml+xml"}) {
        const size_t webLength = strlen(web);
        if (StartsWith(type, length, web) &&
            (length == webLength || type[webLength] == ';' || type[webLength] == ' ' ||
             type[webLength] == '\t'))
            return true;
    }
    return false;
}

bool StartsLikeWebPage(const uint8_t* start, size_t length) {
    if (StartsWith(start, length, "\xef\xbb\xbf")) start += 3, length -= 3;
    while (length && (*start == ' ' || *start == '\t' || *start == '\r' || *start == '\n'))
        ++start, --length;
    for (const char* opening : {"<!doctype html", "<html", "<head", "<body", "<?xml", "<!--",
                                "<script", "<meta", "<title"})
        if (StartsWith(start, length, opening)) return true;
    return false;
}

ImageVerdict CheckImageStart(const uint8_t* start, size_t startLength, uint64_t fileSize,
                             const char* contentType) {
    if (fileSize >= kImageCheckBytes && startLength >= kImageCheckBytes && start[510] == 0x55 &&
        start[511] == 0xAA)
        return ImageVerdict::Image;
    if (IsWebPageType(contentType) || StartsLikeWebPage(start, startLength))
        return ImageVerdict::WebPage;
    return fileSize < kImageCheckBytes ? ImageVerdict::TooShort : ImageVerdict::NoSignature;
}

const char* ImageVerdictName(ImageVerdict verdict) {
    switch (verdict) {
    case ImageVerdict::Image: return "passed (boot signature)";
    case ImageVerdict::WebPage: return "failed (a web page)";
    case ImageVerdict::TooShort: return "failed (shorter than a sector)";
    case ImageVerdict::NoSignature: return "failed (no boot signature)";
    }
    return "";
}
