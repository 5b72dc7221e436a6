/* A host built against an installed TarnVellIO, as a game's build would find it: through
 * find_package(TarnVellIO) (CMakeLists.txt beside this file) or pkg-config. It loads the
 * release given, reads one file and prints what it found. */
#include <stdio.h>
#include <string.h>

#include <TarnVellIO.h>

#if TARNVELLIO_VERSION_NUMBER < 100
#error "TarnVellIO 0.1.0 or later is needed"
#endif

int main(int argc, char** argv)
{
    VellFileHandle file;
    char begin[17];
    uint32_t read = 0;
    int64_t size;

    if (argc != 2) {
        fprintf(stderr, "usage: consumer RELEASE_DIR\n");
        return 2;
    }
    if (VellInitialize(0, 0, 0, argv[1]) != VELL_OK) return 1;
    file = VellOpenFile("DATA/readme.txt");
    if (file == NULL) return 1;
    size = VellGetFileSize(file);
    memset(begin, 0, sizeof begin);
    if (VellRead(file, 0, sizeof begin - 1, &read, begin) != VELL_OK) return 1;
    VellCloseFile(file);
    VellShutdown();
    printf("TarnVellIO %d.%d.%d: DATA/readme.txt %u bytes, begins \"%s\"\n", TARNVELLIO_VERSION_MAJOR,
           TARNVELLIO_VERSION_MINOR, TARNVELLIO_VERSION_PATCH, (unsigned)size, begin);
    return 0;
}
