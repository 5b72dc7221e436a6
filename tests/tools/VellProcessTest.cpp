// vell as a long-running process that a user stops: an extract interrupted by a signal, and
// a release mounted through FUSE, read by several processes at once and unmounted. On Windows,
// which sends no POSIX signals and where vell has no mount, only the refusal to mount runs.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include "VellTestSupport.h"

using namespace VellTestSupport;

namespace {
constexpr const char kNoSignals[] = "needs POSIX processes and signals (fork, SIGINT, SIGTERM): Windows has none";
constexpr const char kNoMount[] = "vell mount needs FUSE 3, which Windows has not: vell for Windows has no mount";
using VellMount = VellFixture;
}  // namespace

TEST(VellProcess, InterruptedExtractLeavesNoPartialFile) { GTEST_SKIP() << kNoSignals; }
TEST_F(VellMount, ServesTheSolutionAsExtractWritesItToSeveralReadersAndUnmounts) { GTEST_SKIP() << kNoMount; }
TEST_F(VellMount, UnmountsOnSigtermAndSigint) { GTEST_SKIP() << kNoMount; }
TEST_F(VellMount, ADamagedFileFailsItsReadsAndSaysWhyOnce) { GTEST_SKIP() << kNoMount; }

TEST_F(VellMount, SaysWhyItCannotMount)
{
    std::filesystem::create_directories(mDir.Path() / "mnt");
    const Result r = Vell("", "mount " + Quote(mGame) + " " + Quote((mDir.Path() / "mnt").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vell mount: mounting is not available on Windows\n");
    EXPECT_EQ(r.out, "");
}

#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "VellTestSupport.h"
#include "writer/ProjectWriter.h"

using namespace Tarn::VELL::Writer;
using namespace VellTestSupport;
using TarnSupport::TempDir;
namespace fs = std::filesystem;

namespace {

// Starts a program with its standard output and error going to files.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& output)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The wait status of pid once it ends; -1 (after killing it) when it runs past the limit.
int WaitFor(pid_t pid, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

bool ExitedWith(int status, int code) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code; }

std::vector<fs::path> PartialFiles(const fs::path& root)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        if (it->path().filename().string().find(".vell-partial") != std::string::npos) found.push_back(it->path());
    return found;
}

using VellProcess = VellFixture;

}  // namespace

TEST_F(VellProcess, InterruptedExtractLeavesNoPartialFile)
{
    constexpr std::size_t kSize = 24u << 20;
    ProjectRelease release("big", 0x00000001);
    for (char c = 'a'; c < 'h'; ++c) release.Add(std::string("DATA/big_") + c + ".bin", std::string(kSize, c));
    const std::string deploy = release.Write(mDir.Path() / "big/VELL").deployDirectory.string();
    const fs::path out = mDir.Path() / "out";
    const pid_t vell = Spawn({VELL_BINARY, "-C", deploy, "extract", "DATA", out.string()}, mDir / "extract.txt");

    // Stop vell while a file is being written, then interrupt it there.
    fs::path partial;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    int status = 0;
    while (partial.empty() && std::chrono::steady_clock::now() < deadline && waitpid(vell, &status, WNOHANG) == 0) {
        const std::vector<fs::path> found = PartialFiles(out);
        if (found.empty()) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            continue;
        }
        kill(vell, SIGSTOP);
        waitpid(vell, &status, WUNTRACED);
        if (fs::exists(found.front())) partial = found.front();
        else kill(vell, SIGCONT);
    }
    ASSERT_FALSE(partial.empty()) << "never saw a file being written: " << TempDir::Read(mDir / "extract.txt");
    kill(vell, SIGINT);
    kill(vell, SIGCONT);
    status = WaitFor(vell, std::chrono::seconds(60));
    EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;

    EXPECT_EQ(PartialFiles(out), std::vector<fs::path>{});
    const std::string name = partial.filename().string();  // ".big_X.bin.vell-partial"
    const std::string interrupted = name.substr(1, name.size() - 1 - std::strlen(".vell-partial"));
    EXPECT_FALSE(fs::exists(out / "DATA" / interrupted)) << interrupted;
    std::size_t complete = 0;
    for (const auto& entry : fs::directory_iterator(out / "DATA")) {
        EXPECT_EQ(fs::file_size(entry.path()), kSize) << entry.path();
        ++complete;
    }
    EXPECT_LT(complete, 7u);
    EXPECT_NE(TempDir::Read(mDir / "extract.txt")
                  .find("vell extract: interrupted after " + std::to_string(complete) + " file(s); the partial \"DATA/" +
                        interrupted + "\" was removed"),
              std::string::npos)
        << TempDir::Read(mDir / "extract.txt");
}

namespace {

class VellMount : public VellFixture {
protected:
    void SetUp() override
    {
#ifndef VELL_HAS_MOUNT
        GTEST_SKIP() << "vell was built without FUSE 3 (Debian: libfuse3-dev)";
#endif
        const int device = open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (device < 0) GTEST_SKIP() << "FUSE is not usable here: /dev/fuse: " << std::strerror(errno);
        close(device);
        if (std::system("command -v fusermount3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "fusermount3 is not installed (Debian: fuse3)";
        VellFixture::SetUp();
        mPoint = mDir.Path() / "mnt";
        fs::create_directories(mPoint);
    }
    void TearDown() override
    {
        if (mVell > 0) {
            if (Mounted()) std::system(("fusermount3 -u -z " + Quote(mPoint.string()) + " >/dev/null 2>&1").c_str());
            WaitFor(mVell, std::chrono::seconds(10));
        }
    }

    bool Mounted() const
    {
        struct stat point {}, parent {};
        return stat(mPoint.c_str(), &point) == 0 && stat(mPoint.parent_path().c_str(), &parent) == 0 &&
               point.st_dev != parent.st_dev;
    }
    // Starts vell mount (on the sample solution by default) and waits until the file system
    // is there.
    void StartMount(const std::string& directory = {})
    {
        mVell = Spawn({VELL_BINARY, "mount", directory.empty() ? mGame : directory, mPoint.string()}, mDir / "mount.txt");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = 0;
        while (!Mounted() && std::chrono::steady_clock::now() < deadline) {
            ASSERT_EQ(waitpid(mVell, &status, WNOHANG), 0) << "vell mount ended: " << TempDir::Read(mDir / "mount.txt");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(Mounted()) << TempDir::Read(mDir / "mount.txt");
    }
    // Waits for vell mount to end by itself; true when it ended with status 0.
    bool EndedCleanly()
    {
        const int status = WaitFor(mVell, std::chrono::seconds(30));
        mVell = 0;
        return ExitedWith(status, 0);
    }

    fs::path mPoint;
    pid_t mVell = 0;
};

// Each of several processes reads random ranges (some crossing the end) of random files
// through the mount and compares them with the extracted copies; exits 0 when all agree.
int ReadRandomRanges(const fs::path& mounted, const fs::path& copy, const std::vector<std::string>& files, unsigned seed)
{
    std::mt19937 random(seed);
    std::map<std::string, std::string> expected;
    std::vector<char> buffer(1 << 17);
    for (int i = 0; i < 300; ++i) {
        const std::string& file = files[random() % files.size()];
        if (!expected.count(file)) expected[file] = TempDir::Read((copy / file).string());
        const std::string& bytes = expected[file];
        const std::size_t offset = random() % (bytes.size() + 64);
        const std::size_t count = 1 + random() % buffer.size();
        const int fd = open((mounted / file).c_str(), O_RDONLY);
        if (fd < 0) return 2;
        const ssize_t got = pread(fd, buffer.data(), count, static_cast<off_t>(offset));
        close(fd);
        const std::size_t want = offset >= bytes.size() ? 0 : std::min(count, bytes.size() - offset);
        if (got != static_cast<ssize_t>(want) || bytes.compare(offset < bytes.size() ? offset : bytes.size(), want, buffer.data(), want) != 0)
            return 1;
    }
    return 0;
}

}  // namespace

TEST_F(VellMount, ServesTheSolutionAsExtractWritesItToSeveralReadersAndUnmounts)
{
    ASSERT_NO_FATAL_FAILURE(StartMount());
    const fs::path copy = mDir.Path() / "copy";
    ASSERT_EQ(Vell(mGame, "extract '*' " + Quote(copy.string())).status, 0);
    const Result diff = Execute(mDir, "diff -r " + Quote(mPoint.string()) + " " + Quote(copy.string()));
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;

    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(copy))
        if (entry.is_regular_file()) files.push_back(entry.path().lexically_relative(copy).string());
    ASSERT_EQ(files.size(), 15u);
    std::vector<pid_t> readers;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const pid_t reader = fork();
        if (reader == 0) _exit(ReadRandomRanges(mPoint, copy, files, seed));
        readers.push_back(reader);
    }
    for (pid_t reader : readers) EXPECT_TRUE(ExitedWith(WaitFor(reader, std::chrono::seconds(120)), 0));

    // Read-only: nothing can be written or made.
    EXPECT_FALSE(std::ofstream(mPoint / "DATA/readme.txt", std::ios::app).is_open());
    std::error_code error;
    EXPECT_FALSE(fs::create_directory(mPoint / "new", error));

    EXPECT_EQ(std::system(("fusermount3 -u " + Quote(mPoint.string())).c_str()), 0);
    EXPECT_TRUE(EndedCleanly()) << TempDir::Read(mDir / "mount.txt");
    EXPECT_FALSE(Mounted());
}

TEST_F(VellMount, UnmountsOnSigtermAndSigint)
{
    for (int signal : {SIGTERM, SIGINT}) {
        ASSERT_NO_FATAL_FAILURE(StartMount());
        EXPECT_EQ(TempDir::Read((mPoint / "DATA/shared.txt").string()),
                  SampleContent("client", kSampleClientVersion, "DATA/shared.txt", 1500));
        kill(mVell, signal);
        EXPECT_TRUE(EndedCleanly()) << signal << TempDir::Read(mDir / "mount.txt");
        EXPECT_FALSE(Mounted()) << signal;
    }
}

// A file that cannot be decompressed fails its reads with EIO and costs one line; the rest
// of the release is served.
TEST_F(VellMount, ADamagedFileFailsItsReadsAndSaysWhyOnce)
{
    ASSERT_NO_FATAL_FAILURE(StartMount(WriteDamagedRelease(mDir.Path() / "broken/VELL")));
    EXPECT_EQ(TempDir::Read((mPoint / "DATA/good.txt").string()), std::string(5000, 'g'));
    const int fd = open((mPoint / "DATA/bad.txt").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    char buffer[100];
    EXPECT_EQ(read(fd, buffer, sizeof(buffer)), -1);
    EXPECT_EQ(errno, EIO);
    close(fd);
    EXPECT_EQ(std::system(("fusermount3 -u " + Quote(mPoint.string())).c_str()), 0);
    EXPECT_TRUE(EndedCleanly());
    const std::string log = TempDir::Read(mDir / "mount.txt");
    EXPECT_NE(log.find("\nvell mount: cannot open \"DATA/bad.txt\": its compressed data in "), std::string::npos) << log;
    EXPECT_NE(log.find("is damaged (zlib: Z_DATA_ERROR: incorrect data check)\n"), std::string::npos) << log;
    EXPECT_EQ(LineCount(log), 4u) << log;  // mounted, the file's line, unmounted, the hint about -v
}

TEST_F(VellMount, SaysWhyItCannotMount)
{
    Result r = Vell("", "mount " + Quote(mGame) + " " + Quote((mDir.Path() / "nowhere").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vell mount: " + (mDir / "nowhere") + ": No such file or directory\n");
    r = Vell("", "mount " + Quote(mGame) + " " + Quote(mDir.Write("file", "x")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vell mount: " + (mDir / "file") + " is not a directory\n");
    EXPECT_EQ(Vell(mClient, "mount " + Quote(mGame) + " " + Quote(mPoint.string())).status, 2) << "-C and DIR together";
}

#endif
