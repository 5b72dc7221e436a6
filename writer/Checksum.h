// MD5 digests of file contents: the 16 bytes that vellpack writes into each manifest file
// record, and by which a later release tells unchanged files from changed ones.
//
// The digest comes from the system's implementation, chosen by CMake: libmd (<md5.h>) on
// Linux, the Windows CNG provider (BCrypt) on Windows. Both are exercised by the same tests
// against the known digests of RFC 1321.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace Tarn::VELL::Writer {

using Md5Digest = std::array<uint8_t, 16>;

// An MD5 computed over bytes given in any number of pieces. Not thread-safe; one object per
// thread. Throws std::runtime_error when the system cannot provide MD5 (Windows only).
class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void Update(const void* data, size_t size);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    // The digest of every byte given since construction or the last Finish; the object then
    // starts again from nothing.
    Md5Digest Finish();

private:
    struct State;
    std::unique_ptr<State> mState;
};

Md5Digest Md5Of(std::string_view bytes);

// 32 lower-case hexadecimal digits, first byte first (as md5sum prints it).
std::string HexDigest(const Md5Digest& digest);

}  // namespace Tarn::VELL::Writer
