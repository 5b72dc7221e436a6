// MD5 from libmd (Debian libmd-dev), for Linux and other systems that have it.
#include "writer/Checksum.h"

#include <md5.h>

namespace Tarn::VELL::Writer {

struct Md5::State {
    MD5_CTX context;
};

Md5::Md5() : mState(std::make_unique<State>()) { MD5Init(&mState->context); }

Md5::~Md5() = default;

void Md5::Update(const void* data, size_t size)
{
    if (size != 0) MD5Update(&mState->context, static_cast<const uint8_t*>(data), size);
}

Md5Digest Md5::Finish()
{
    Md5Digest digest;
    MD5Final(digest.data(), &mState->context);
    MD5Init(&mState->context);
    return digest;
}

}  // namespace Tarn::VELL::Writer
