// The check of what the server sent before anything is written: the image is a raw disk image
// that starts a PC from its first sector, so it has at least one 512-byte sector that ends in
// the boot signature 0x55 0xAA (a master boot record, a GPT disk's protective record, a hybrid
// ISO image and a FAT boot sector all carry it).
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t kImageCheckBytes = 512;  // how much of the file's start the check reads

enum class ImageVerdict : uint8_t {
    Image,        // carries the signature: written, whatever the response's type says
    WebPage,      // no signature, and served as HTML or starting like a web page
    TooShort,     // less than one sector
    NoSignature,  // a sector or more without the signature
};

// `start`: the file's first `startLength` bytes (up to kImageCheckBytes); `fileSize`: its
// whole length; `contentType`: the response's Content-Type, may be empty or null.
ImageVerdict CheckImageStart(const uint8_t* start, size_t startLength, uint64_t fileSize,
                             const char* contentType);

// The verdict's name for the run log.
const char* ImageVerdictName(ImageVerdict verdict);

// Content-Type of a web page: text/html or application/xhtml+xml, any case, any parameters.
bool IsWebPageType(const char* contentType);

// True when the bytes start like an HTML or XML document (after blanks and a UTF-8 byte
// order mark): "<!DOCTYPE html", "<html", "<head", "<body", "<?xml", "<!--", "<script",
// "<meta" or "<title", in any case.
bool StartsLikeWebPage(const uint8_t* start, size_t length);
