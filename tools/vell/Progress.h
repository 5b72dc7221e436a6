// Progress of long work on standard error: only when it is a terminal.
#pragma once

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define VELL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define VELL_ISATTY(fd) isatty(fd)
#endif

namespace Vell {

class Progress {
public:
    Progress(uint64_t files, uint64_t) : mTotal(files), mShown(VELL_ISATTY(2) != 0 && files > 0) {}
    void Add(uint64_t files, uint64_t)
    {
        mDone += files;
        if (!mShown) return;
        std::fprintf(stderr, "\r%llu/%llu", static_cast<unsigned long long>(mDone), static_cast<unsigned long long>(mTotal));
    }
    void Finish()
    {
        if (mShown) std::fputc('\n', stderr);
        mShown = false;
    }

private:
    uint64_t mTotal, mDone = 0;
    bool mShown;
};

}  // namespace Vell
