// The kept image's Win32 side: its SHA-256 through CryptoAPI and its record in the program's
// registry key, where only administrators can change it (image_record.h has the record and
// the decisions).
#pragma once
#include <cstdint>

#include "download/image_record.h"

// True when the system's CryptoAPI computes SHA-256 (Windows XP SP3 and later): a provider of
// type PROV_RSA_AES and a CALG_SHA_256 hash can be had.
bool Sha256Available();

enum class HashEnd : uint8_t {
    Done,         // the whole file was read and hashed
    OtherLength,  // the file's length is not the expected one: nothing was read
    Unreadable,   // the file is missing or a read failed
    Stopped,      // goOn answered false
    NoHash,       // CryptoAPI has no SHA-256
};

// Reads the file at `path` once from its start and hashes it. `expectedLength` (0: any) is
// compared before the first read. After each piece, goOn(context, done, total) is asked
// whether to go on. `length` gets the file's length.
HashEnd HashImageFile(const char* path, uint64_t expectedLength, uint8_t digest[kSha256Size],
                      uint64_t* length, bool (*goOn)(void* context, uint64_t done, uint64_t total),
                      void* context);

// The record, the string value KeptImage of the program's key.
RecordState ReadImageRecord(ImageRecord* record);
bool WriteImageRecord(const ImageRecord& record);
void RemoveImageRecord();

// The local time now, for the record.
RecordDate RecordDateNow();
