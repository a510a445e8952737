// The record of the kept image: a small text, kept in the program's registry key of the local
// machine, that says what the server said about the image when it was downloaded, its SHA-256
// and when it arrived. A later run asks the server again and writes the kept image, without a
// second download, when the response still describes the same image and the file is unchanged.
#pragma once
#include <cstddef>
#include <cstdint>

#include "download/download_progress.h"
#include "download/response_headers.h"

constexpr const char kRecordValue[] = "KeptImage";  // the registry value that holds it
constexpr const char kRecordTitle[] = "Halcyra Creator image record";
constexpr size_t kRecordTextSize = 8192;   // room for a whole record, the longest address too
constexpr size_t kSha256Size = 32;
constexpr size_t kSha256TextSize = 65;     // 64 hex digits and the end
constexpr size_t kKeptImageTextSize = 96;  // "Using the image downloaded on ..."

struct RecordDate {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct ImageRecord {
    char address[kRequestAddressSize] = {};       // the image address, without the request's Rand
    char etag[sizeof ResponseHeaders::etag] = {};  // as the server sent them; may be empty
    char lastModified[sizeof ResponseHeaders::lastModified] = {};
    uint64_t length = 0;                          // the image file's length (Content-Length)
    char sha256[kSha256TextSize] = {};            // lower-case hex
    RecordDate downloaded;                        // local time when the download was kept
};

// The record as text, one "Name: value" line per field under the title line; false when it
// doesn't fit.
bool FormatImageRecord(char* out, size_t size, const ImageRecord& record);

// The record from its text; false for anything but a whole, well-formed record.
bool ParseImageRecord(const char* text, ImageRecord* record);

// A digest as 64 lower-case hex digits.
void Sha256Text(const uint8_t digest[kSha256Size], char out[kSha256TextSize]);

// A strong entity tag: given, and without the weak prefix "W/".
bool IsStrongETag(const char* etag);

enum class RecordState : uint8_t { None, Unreadable, Read };

enum class ReuseVerdict : uint8_t {
    Reuse,             // the response describes the kept image: its file is checked and written
    NoHash,            // the system has no SHA-256: nothing is kept
    NoRecord,          // no image is kept
    RecordUnreadable,  // the record can't be read
    OtherAddress,      // the kept image came from another address
    NotServed,         // the server doesn't answer with the image now
    NoValidators,      // the response has neither a strong ETag nor a Last-Modified
    Changed,           // the response describes another image
};

struct ReuseFacts {
    bool hashAvailable;
    RecordState state;
    const ImageRecord* record;  // when state is Read
    const char* address;        // this run's image address
    bool askedETag;             // the request carried If-None-Match with the record's ETag
    const ResponseHeaders* headers;
};

// Whether the response's headers show the kept image: the same strong ETag (and, when the
// response gives a length, the same length), or, without a strong ETag, the same Last-Modified
// and the same given length. A weak ETag never counts as the same image; a different one
// (weak or strong) is a changed image. "304 Not Modified" to the request's If-None-Match is
// the server's own word that the kept image is the one it serves.
ReuseVerdict DecideReuse(const ReuseFacts& facts);

// A "304 Not Modified" to the request's If-None-Match that doesn't show the kept image (it names
// another ETag, as a proxy that adds "W/" does) says nothing about the image: the request is
// made again without the condition and the image downloaded whole.
bool AskAgainWithoutCondition(uint32_t status, bool askedETag, ReuseVerdict verdict);

// The request's extra header when a record with a strong ETag is kept for this address:
// "If-None-Match: <ETag>\r\n", so that a server that still serves that image answers "304 Not
// Modified" without a body. False, with `out` empty, when there is none to send.
bool ConditionalRequestHeader(char* out, size_t size, RecordState state,
                              const ImageRecord& record, const char* address);

// The verdict's reason for the run log.
const char* ReuseVerdictName(ReuseVerdict verdict);

// "Using the image downloaded on 8 December 2026": the status line when the kept image is
// about to be written.
void KeptImageText(char* out, size_t size, const RecordDate& downloaded);

// The digest of 64 lower-case hex digits (as Sha256Text writes it); false for anything else.
bool Sha256FromText(const char* text, uint8_t digest[kSha256Size]);

