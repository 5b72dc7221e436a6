// mount where this vell was built without FUSE 3.
#include "Commands.h"
#include "Diagnostics.h"

namespace Vell {

int Mount(const Invocation&)
{
#ifdef _WIN32
    Complain("mount", "mounting is not available on Windows");
#else
    Complain("mount", "this vell was built without FUSE 3 (Debian: libfuse3-dev and fuse3; then rebuild)");
#endif
    return kExitFailed;
}

}  // namespace Vell
