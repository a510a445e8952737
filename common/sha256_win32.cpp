#include "common/sha256.h"

#include "common/system_library.h"

// The AES provider and its SHA-256 came with Windows XP SP3; the headers of the oldest Windows
// the program builds for don't name them.
#ifndef PROV_RSA_AES
#define PROV_RSA_AES 24
#endif
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

bool Sha256Begin(Sha256Hash* hash) {
    Sha256Release(hash);
    // The provider's library, which CryptoAPI loads by the name or path its registration gives,
    // is loaded from the system folder first (with what it needs from there too): the later
    // load then finds it loaded.
    LoadSystemLibrary("rsaenh.dll");
    if (!CryptAcquireContextA(&hash->provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        hash->provider = 0;
        return false;
    }
    if (CryptCreateHash(hash->provider, CALG_SHA_256, 0, 0, &hash->hash)) return true;
    hash->hash = 0;
    Sha256Release(hash);
    return false;
}

bool Sha256Add(Sha256Hash* hash, const void* data, DWORD length) {
    return hash->hash && CryptHashData(hash->hash, static_cast<const BYTE*>(data), length, 0);
}

bool Sha256End(Sha256Hash* hash, uint8_t digest[kSha256Bytes]) {
    DWORD size = kSha256Bytes;
    const bool done = hash->hash && CryptGetHashParam(hash->hash, HP_HASHVAL, digest, &size, 0) &&
                      size == kSha256Bytes;
    Sha256Release(hash);
    return done;
}

void Sha256Release(Sha256Hash* hash) {
    if (hash->hash) CryptDestroyHash(hash->hash);
    if (hash->provider) CryptReleaseContext(hash->provider, 0);
    hash->hash = 0;
    hash->provider = 0;
}

bool Sha256Available() {
    // Asked once: the answer is the system's and doesn't change while the program runs.
    static const bool available = [] {
        Sha256Hash hash;
        const bool begun = Sha256Begin(&hash);
        Sha256Release(&hash);
        return begun;
    }();
    return available;
}
