#include "download/image_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kNotModified = 304;

const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                 "July",    "August",   "September", "October", "November", "December"};

bool IsDigits(const char* text, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

int Number(const char* text, size_t count) {
    int value = 0;
    for (size_t i = 0; i < count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

// "2026-12-08 14:03:22"
bool ParseDate(const char* text, RecordDate* date) {
    if (strlen(text) != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != ':' || text[16] != ':')
        return false;
    if (!IsDigits(text, 4) || !IsDigits(text + 5, 2) || !IsDigits(text + 8, 2) ||
        !IsDigits(text + 11, 2) || !IsDigits(text + 14, 2) || !IsDigits(text + 17, 2))
        return false;
    RecordDate parsed;
    parsed.year = Number(text, 4);
    parsed.month = Number(text + 5, 2);
    parsed.day = Number(text + 8, 2);
    parsed.hour = Number(text + 11, 2);
    parsed.minute = Number(text + 14, 2);
    parsed.second = Number(text + 17, 2);
    if (parsed.month < 1 || parsed.month > 12 || parsed.day < 1 || parsed.day > 31 ||
        parsed.hour > 23 || parsed.minute > 59 || parsed.second > 60)
        return false;
    *date = parsed;
    return true;
}

bool ParseLength(const char* text, uint64_t* length) {
    const size_t digits = strlen(text);
    if (digits == 0 || digits > 19 || !IsDigits(text, digits)) return false;
    *length = strtoull(text, nullptr, 10);
    return *length > 0;
}

bool ParseSha256(const char* text) {
    if (strlen(text) != kSha256TextSize - 1) return false;
    for (const char* c = text; *c; ++c)
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) return false;
    return true;
}

// The first line, without its line end.
bool TitleIs(const char* text, const char* title) {
    const size_t length = strlen(title);
    return strncmp(text, title, length) == 0 &&
           (text[length] == '\r' || text[length] == '\n' || text[length] == 0);
}

}  // namespace

bool FormatImageRecord(char* out, size_t size, const ImageRecord& record) {
    const RecordDate& d = record.downloaded;
    const int length = snprintf(
        out, size,
        "%s\r\nAddress: %s\r\nETag: %s\r\nLast-Modified: %s\r\nContent-Length: %llu\r\n"
        "SHA-256: %s\r\nDownloaded: %04d-%02d-%02d %02d:%02d:%02d\r\n",
        kRecordTitle, record.address, record.etag, record.lastModified,
        static_cast<unsigned long long>(record.length), record.sha256, d.year, d.month, d.day,
        d.hour, d.minute, d.second);
    return length > 0 && static_cast<size_t>(length) < size;
}

bool ParseImageRecord(const char* text, ImageRecord* record) {
    if (!text || !TitleIs(text, kRecordTitle)) return false;
    ImageRecord parsed;
    char length[32], date[32];
    if (!HeaderValue(text, "Address", parsed.address, sizeof parsed.address) ||
        !parsed.address[0] || !HeaderValue(text, "ETag", parsed.etag, sizeof parsed.etag) ||
        !HeaderValue(text, "Last-Modified", parsed.lastModified, sizeof parsed.lastModified) ||
        !HeaderValue(text, "Content-Length", length, sizeof length) ||
        !ParseLength(length, &parsed.length) ||
        !HeaderValue(text, "SHA-256", parsed.sha256, sizeof parsed.sha256) ||
        !ParseSha256(parsed.sha256) || !HeaderValue(text, "Downloaded", date, sizeof date) ||
        !ParseDate(date, &parsed.downloaded))
        return false;
    *record = parsed;
    return true;
}

void Sha256Text(const uint8_t digest[kSha256Size], char out[kSha256TextSize]) {
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < kSha256Size; ++i) {
        out[2 * i] = kHex[digest[i] >> 4];
        out[2 * i + 1] = kHex[digest[i] & 0xF];
    }
    out[kSha256TextSize - 1] = 0;
}

bool IsStrongETag(const char* etag) { return etag[0] && strncmp(etag, "W/", 2) != 0; }

ReuseVerdict DecideReuse(const ReuseFacts& facts) {
    if (!facts.hashAvailable) return ReuseVerdict::NoHash;
    if (facts.state == RecordState::None) return ReuseVerdict::NoRecord;
    if (facts.state == RecordState::Unreadable || !facts.record)
        return ReuseVerdict::RecordUnreadable;
    const ImageRecord& kept = *facts.record;
    const ResponseHeaders& now = *facts.headers;
    if (strcmp(kept.address, facts.address) != 0) return ReuseVerdict::OtherAddress;
    if (now.status == kNotModified && facts.askedETag) {
        // The server may repeat the ETag it matched; another one would contradict it.
        if (now.etag[0] && strcmp(now.etag, kept.etag) != 0) return ReuseVerdict::Changed;
        return ReuseVerdict::Reuse;
    }
    if (now.status == 0 || !IsSuccessStatus(now.status)) return ReuseVerdict::NotServed;
    // A length the response gives must be the kept one, whatever the validators say.
    if (now.contentLength && now.contentLength != kept.length) return ReuseVerdict::Changed;
    if (IsStrongETag(now.etag))
        return strcmp(now.etag, kept.etag) == 0 ? ReuseVerdict::Reuse : ReuseVerdict::Changed;
    // A weak ETag names a version, not the bytes: another one is another image, the same one
    // proves nothing, and the dates decide.
    if (now.etag[0] && strcmp(now.etag, kept.etag) != 0) return ReuseVerdict::Changed;
    if (!now.lastModified[0]) return ReuseVerdict::NoValidators;
    if (strcmp(now.lastModified, kept.lastModified) != 0 || now.contentLength == 0)
        return ReuseVerdict::Changed;
    return ReuseVerdict::Reuse;
}

bool AskAgainWithoutCondition(uint32_t status, bool askedETag, ReuseVerdict verdict) {
    return status == kNotModified && askedETag && verdict != ReuseVerdict::Reuse;
}

bool ConditionalRequestHeader(char* out, size_t size, RecordState state,
                              const ImageRecord& record, const char* address) {
    if (size) out[0] = 0;
    if (state != RecordState::Read || !IsStrongETag(record.etag) ||
        strcmp(record.address, address) != 0)
        return false;
    const int length = snprintf(out, size, "If-None-Match: %s\r\n", record.etag);
    if (length > 0 && static_cast<size_t>(length) < size) return true;
    if (size) out[0] = 0;
    return false;
}

const char* ReuseVerdictName(ReuseVerdict verdict) {
    switch (verdict) {
    case ReuseVerdict::Reuse: return "the server still serves the kept image";
    case ReuseVerdict::NoHash: return "the system has no SHA-256, nothing is kept";
    case ReuseVerdict::NoRecord: return "no image is kept";
    case ReuseVerdict::RecordUnreadable: return "the record of the kept image can't be read";
    case ReuseVerdict::OtherAddress: return "the kept image came from another address";
    case ReuseVerdict::NotServed: return "the server does not answer with the image";
    case ReuseVerdict::NoValidators: return "the server sends neither an ETag nor a Last-Modified";
    case ReuseVerdict::Changed: return "the server's image has changed";
    }
    return "";
}

void KeptImageText(char* out, size_t size, const RecordDate& downloaded) {
    const int month = downloaded.month >= 1 && downloaded.month <= 12 ? downloaded.month : 1;
    snprintf(out, size, "Using the image downloaded on %d %s %d", downloaded.day,
             kMonths[month - 1], downloaded.year);
}

bool Sha256FromText(const char* text, uint8_t digest[kSha256Size]) {
    if (!text || strlen(text) != kSha256TextSize - 1) return false;
    auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (size_t i = 0; i < kSha256Size; ++i) {
        const int high = value(text[2 * i]), low = value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

