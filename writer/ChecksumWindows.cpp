// MD5 from the Windows CNG provider (bcrypt.dll, present on every Windows since Vista): no
// MinGW package of an MD5 library exists, and the system's is the well-kept one there.
#include "writer/Checksum.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace Tarn::VELL::Writer {

namespace {

[[noreturn]] void Fail(const char* call, NTSTATUS status)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    throw std::runtime_error(std::string("MD5 is not available: ") + call + " failed with status " + code);
}

void Check(const char* call, NTSTATUS status)
{
    if (status < 0) Fail(call, status);
}

// One provider for the process, opened on first use and kept until the end.
BCRYPT_ALG_HANDLE Provider()
{
    static BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        Check("BCryptOpenAlgorithmProvider", BCryptOpenAlgorithmProvider(&opened, BCRYPT_MD5_ALGORITHM, nullptr, 0));
        return opened;
    }();
    return provider;
}

BCRYPT_HASH_HANDLE NewHash()
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    Check("BCryptCreateHash", BCryptCreateHash(Provider(), &hash, nullptr, 0, nullptr, 0, 0));
    return hash;
}

}  // namespace

struct Md5::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State()
    {
        if (hash != nullptr) BCryptDestroyHash(hash);
    }
};

Md5::Md5() : mState(std::make_unique<State>()) { mState->hash = NewHash(); }

Md5::~Md5() = default;

void Md5::Update(const void* data, size_t size)
{
    // BCryptHashData takes a 32-bit length.
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size != 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        Check("BCryptHashData", BCryptHashData(mState->hash, bytes, piece, 0));
        bytes += piece;
        size -= piece;
    }
}

Md5Digest Md5::Finish()
{
    Md5Digest digest;
    Check("BCryptFinishHash", BCryptFinishHash(mState->hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    BCryptDestroyHash(mState->hash);
    mState->hash = nullptr;
    mState->hash = NewHash();
    return digest;
}

}  // namespace Tarn::VELL::Writer
