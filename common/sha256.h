// SHA-256 through the system's CryptoAPI: the AES provider (PROV_RSA_AES), which came with
// Windows XP SP3. Where the system lacks it, nothing can be hashed, and no image is kept.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

constexpr DWORD kSha256Bytes = 32;

// One hash: Begin, Add the pieces in order, End. Whatever was acquired is released by End or,
// for a hash left unfinished, by Release (both may be called more than once).
struct Sha256Hash {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
};
bool Sha256Begin(Sha256Hash* hash);
bool Sha256Add(Sha256Hash* hash, const void* data, DWORD length);
bool Sha256End(Sha256Hash* hash, uint8_t digest[kSha256Bytes]);
void Sha256Release(Sha256Hash* hash);

// True when the system computes SHA-256 at all (asked once; the first call loads the provider).
bool Sha256Available();
