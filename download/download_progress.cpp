#include "download/download_progress.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drives/size_format.h"

#ifndef HALCYRA_DEFAULT_IMAGE_URL
#error "HALCYRA_DEFAULT_IMAGE_URL must name the built-in image address"
#endif

bool DownloadFileName(char* out, size_t size, uint32_t processId, uint32_t runNumber) {
    int length = snprintf(out, size, "HalcyraDownload-%lu-%lu.tmp",
                          static_cast<unsigned long>(processId), static_cast<unsigned long>(runNumber));
    if (length >= 0 && static_cast<size_t>(length) < size) return true;
    if (size) out[0] = 0;
    return false;
}

bool DownloadFileProcess(const char* name, uint32_t* processId) {
    static const char kPrefix[] = "HalcyraDownload-";
    if (strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
    const char* at = name + sizeof kPrefix - 1;
    uint64_t values[2] = {0, 0};
    for (int part = 0; part < 2; ++part) {
        const char* digits = at;
        while (*at >= '0' && *at <= '9' && values[part] <= UINT32_MAX)
            values[part] = values[part] * 10 + static_cast<uint64_t>(*at++ - '0');
        if (at == digits || values[part] > UINT32_MAX) return false;
        if (*at++ != (part == 0 ? '-' : '.')) return false;
    }
    // The extension in any case, as the file system matches it.
    const char* extension = "tmp";
    for (int i = 0; i < 3; ++i)
        if ((at[i] | 0x20) != extension[i]) return false;
    if (at[3] != 0) return false;
    *processId = static_cast<uint32_t>(values[0]);
    return true;
}

namespace {
// The length of `prefix` (lower case) when `text` starts with it in any case, else 0.
size_t StartsWith(const char* text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i)
        if (!text[i] || (text[i] | 0x20) != prefix[i]) return 0;
    return i;
}
}  // namespace

const char* ImageAddressFrom(const char* setValue) {
    if (!setValue) return HALCYRA_DEFAULT_IMAGE_URL;
    size_t scheme = StartsWith(setValue, "http://");
    if (!scheme) scheme = StartsWith(setValue, "https://");
    if (scheme == 0 || setValue[scheme] == 0) return HALCYRA_DEFAULT_IMAGE_URL;
    for (const char* c = setValue; *c; ++c)
        if (static_cast<unsigned char>(*c) <= ' ' || *c == 0x7F) return HALCYRA_DEFAULT_IMAGE_URL;
    return setValue;
}

bool BuildRequestAddress(char* out, size_t size, const char* imageUrl, int randomValue) {
    if (size == 0) return false;
    const char* separator = strchr(imageUrl, '?') ? "&" : "?";
    int length = snprintf(out, size, "%s%sRand=%i", imageUrl, separator, randomValue);
    if (length < 0 || static_cast<size_t>(length) >= size) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool IsRequestAddressOf(const char* address, const char* imageUrl) {
    const size_t length = strlen(imageUrl);
    if (strncmp(address, imageUrl, length) != 0) return false;
    const char* rest = address + length;
    if (*rest++ != (strchr(imageUrl, '?') ? '&' : '?') || strncmp(rest, "Rand=", 5) != 0)
        return false;
    rest += 5;
    if (*rest < '0' || *rest > '9') return false;
    while (*rest >= '0' && *rest <= '9') ++rest;
    return *rest == 0;
}

uint32_t RequestSeed(uint32_t timeNow, uint32_t tickCount, uint32_t processId, uint32_t runNumber) {
    // Each input is folded in through a multiply-xorshift round, so that inputs differing in
    // one low bit give unrelated seeds.
    uint32_t inputs[] = {timeNow, tickCount, processId, runNumber};
    uint32_t seed = 0x9E3779B9u;
    for (uint32_t value : inputs) {
        seed ^= value + 0x7F4A7C15u + (seed << 6) + (seed >> 2);
        seed ^= seed >> 16;
        seed *= 0x85EBCA6Bu;
        seed ^= seed >> 13;
        seed *= 0xC2B2AE35u;
        seed ^= seed >> 16;
    }
    return seed;
}

uint64_t ContentLengthOf(const char* headers) {
    static const char kName[] = "content-length:";
    for (const char* line = headers; line && *line;) {
        size_t i = 0;
        while (kName[i] && line[i] && (line[i] | 0x20) == kName[i]) ++i;
        if (!kName[i]) {
            const char* digits = line + i;
            while (*digits == ' ' || *digits == '\t') ++digits;
            uint64_t length = 0;
            for (; *digits >= '0' && *digits <= '9'; ++digits) {
                if (length > (UINT64_MAX - 9) / 10) return 0;  // no image is that long
                length = length * 10 + static_cast<uint64_t>(*digits - '0');
            }
            return length;
        }
        line = strchr(line, '\n');
        if (line) ++line;
    }
    return 0;
}

ProgressStep DecideProgress(uint64_t received, uint64_t total, bool cancelRequested,
                            int64_t now, int64_t downloadStart, int32_t lastShownSecond,
                            bool last) {
    ProgressStep step = {};
    if (cancelRequested) {
        step.abort = true;
        return step;
    }
    if (total == 0) return step;

    int64_t elapsed = now - downloadStart;
    if (elapsed < 1) elapsed = 0;
    if (elapsed > INT32_MAX) elapsed = INT32_MAX;
    step.elapsed = static_cast<int32_t>(elapsed);

    double position = static_cast<double>(received) * 1000.0 / static_cast<double>(total);
    if (position > kDownloadBarSteps) position = kDownloadBarSteps;
    step.barPosition = static_cast<int32_t>(position);
    step.rate = elapsed >= 1 ? static_cast<int64_t>(received) / elapsed : 0;
    step.show = step.elapsed != lastShownSecond || last;
    return step;
}

void DownloadStatusLine(char* out, size_t size, uint64_t received, uint64_t total, int64_t rate,
                        const char* timeLeft) {
    char receivedText[32], totalText[32], rateText[32];
    FormatSize(static_cast<int64_t>(received), receivedText);
    FormatSize(static_cast<int64_t>(total), totalText);
    FormatRate(rate, rateText);
    snprintf(out, size, "%s of %s Downloaded (%s)%s%s", receivedText, totalText, rateText,
             timeLeft && timeLeft[0] ? ", " : "", timeLeft ? timeLeft : "");
}

bool DownloadComplete(uint64_t fileSize, uint64_t announcedLength, uint32_t httpStatus) {
    if (httpStatus != 0 && (httpStatus < 200 || httpStatus > 299)) return false;
    if (fileSize == 0) return false;
    return announcedLength == 0 || fileSize == announcedLength;
}

uint32_t DownloadStallLimitMs(uint32_t setSeconds) {
    if (setSeconds > 0 && setSeconds < 3600) return setSeconds * 1000;
    return kDownloadStallLimitMs;
}
