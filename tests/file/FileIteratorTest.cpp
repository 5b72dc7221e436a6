#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CStd/Report.h"
#include "file/FileIterator.h"
#include "file/IFile.h"
#include "file/SparseFileProvider.h"
#include "platform/Win32.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"

using namespace Tarn::File;
using TarnTest::TempDir;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// The entries an iterator yields, directories marked with a final '/'.
Names Drain(FileIteratorBase& it)
{
    Names seen;
    for (; it.IsValid(); it.Next()) seen.push_back(std::string(it.GetName()) + (it.IsDirectory() ? "/" : ""));
    return seen;
}

Names Search(const std::string& pattern, std::uint32_t flags)
{
    auto it = CreateFileIterator(pattern.c_str(), flags);
    return it ? Drain(*it) : Names{"<no iterator>"};
}

// Files a.olm, c.olm, z.olm, notes.txt and directories b.olm, sub.olm.
std::string Populate(const TempDir& dir)
{
    for (const char* file : {"a.olm", "c.olm", "z.olm", "notes.txt"}) dir.Write(file, "x");
    fs::create_directory(dir.Path() / "b.olm");
    fs::create_directory(dir.Path() / "sub.olm");
    return dir.Path().string();
}

int gCloses = 0;
Win32::BOOL CountingClose(Win32::HANDLE search)
{
    ++gCloses;
    return Win32::DefaultCalls().FindClose(search);
}

}  // namespace

TEST(FileIterator, YieldsMatchingEntriesButNeverTheDotEntries)
{
    TempDir dir;
    const std::string root = Populate(dir);
    EXPECT_EQ(Search(root + "/*.olm", 8), (Names{"a.olm", "b.olm/", "c.olm", "sub.olm/", "z.olm"}));
    EXPECT_EQ(Search(root + "/*", 8), (Names{"a.olm", "b.olm/", "c.olm", "notes.txt", "sub.olm/", "z.olm"}));
    EXPECT_EQ(Search(root + "/?.OLM", 0), (Names{"a.olm", "b.olm/", "c.olm", "z.olm"}));
    // Directories only: files before, between and after them are skipped, and so are "." and "..".
    EXPECT_EQ(Search(root + "/*", kDirectoriesOnly), (Names{"b.olm/", "sub.olm/"}));
    EXPECT_EQ(Search(root + "/*.olm", kDirectoriesOnly | 8), (Names{"b.olm/", "sub.olm/"}));
    EXPECT_EQ(Search(root + "/*.txt", kDirectoriesOnly), Names{});
    // A directory holding only "." and "..", and a missing one, give an iterator invalid at once.
    fs::create_directory(dir.Path() / "empty");
    for (const std::string& pattern : {root + "/empty/*", root + "/missing/*.olm", root + "/*.none"}) {
        auto it = CreateFileIterator(pattern.c_str(), 8);
        ASSERT_NE(it, nullptr);
        EXPECT_FALSE(it->IsValid()) << pattern;
        it->Next();
        EXPECT_FALSE(it->IsValid()) << pattern;
    }
}

TEST(FileIterator, NormalisesSeparatorsAndGivesFullAndRelativePaths)
{
    TempDir dir;
    const std::string root = Populate(dir);
    // "/tmp/x/y" written as "/tmp\\\\x\\y\\//*.olm": backslashes and doubled separators.
    std::string messy = root;
    const size_t second = messy.find('/', 1);
    ASSERT_NE(second, std::string::npos);
    for (size_t i = second; i < messy.size(); ++i)
        if (messy[i] == '/') messy[i] = '\\';
    messy.insert(second, "\\");
    messy += "\\//*.olm";

    auto it = CreateFileIterator(messy.c_str(), 8);
    auto* wrapped = dynamic_cast<ExtendedFileIterator*>(it.get());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_STREQ(wrapped->GetBaseDirectory(), root.c_str());
    EXPECT_STREQ(wrapped->GetSearchDirectory(), root.c_str());
    Names full, relative;
    for (; it->IsValid(); it->Next()) {
        full.push_back(wrapped->GetFullPath());
        relative.push_back(wrapped->GetRelativePath());
    }
    EXPECT_EQ(full, (Names{root + "/a.olm", root + "/b.olm", root + "/c.olm", root + "/sub.olm", root + "/z.olm"}));
    EXPECT_EQ(relative, (Names{"a.olm", "b.olm", "c.olm", "sub.olm", "z.olm"}));
    EXPECT_STREQ(wrapped->GetFullPath(), (root + "/z.olm").c_str());  // exhausted, it keeps the last entry's

    // Without a slash the pattern searches the current directory, and the base directory is empty.
    const fs::path previous = fs::current_path();
    fs::current_path(dir.Path());
    it = CreateFileIterator("s*", 8);
    fs::current_path(previous);
    wrapped = dynamic_cast<ExtendedFileIterator*>(it.get());
    ASSERT_TRUE(wrapped && wrapped->IsValid());
    EXPECT_STREQ(wrapped->GetBaseDirectory(), "");
    EXPECT_STREQ(wrapped->GetFullPath(), "sub.olm");
    EXPECT_STREQ(wrapped->GetRelativePath(), "sub.olm");
}

TEST(FileIterator, ClosesItsSearchOnceWhetherExhaustedFailedOrDropped)
{
    TempDir dir;
    const std::string root = Populate(dir);
    TarnTest::ScopedCalls calls;
    Win32::gCalls.FindClose = CountingClose;
    gCloses = 0;
    EXPECT_EQ(Search(root + "/*.olm", 8).size(), 5u);
    CreateFileIterator((root + "/*.olm").c_str(), 8).reset();
    EXPECT_EQ(gCloses, 2);

    // An error while fetching the next entry ends the iteration like the end of the directory.
    Win32::gCalls.FindNextFileA = [](Win32::HANDLE, Win32::WIN32_FIND_DATAA*) -> Win32::BOOL {
        Win32::SetLastError(Win32::kErrorReadFault);
        return 0;
    };
    gCloses = 0;
    EXPECT_EQ(Search(root + "/*.olm", 8), Names{"a.olm"});
    EXPECT_EQ(Search(root + "/*", 8), Names{});  // "." came first, and nothing after it
    EXPECT_EQ(gCloses, 2);
}

namespace {
std::string gReport;
void RecordReport(const char* text) { gReport += text; }
}  // namespace

TEST(SparseFileProvider, OpensFilesTestsAccessAndReadsContentsOnce)
{
    TempDir dir;
    const std::string text = dir.Write("text.txt", std::string("line one\nline\0two", 18));
    const std::string missing = dir / "missing.txt";
    SparseFileProvider provider;
    EXPECT_EQ(provider.Access(missing.c_str(), 0), -1);
    EXPECT_EQ(provider.Access(text.c_str(), 0), 0);
    EXPECT_EQ(provider.Access(text.c_str(), 4), 0);

    gReport.clear();
    Tarn::SetReportHandlers(nullptr, nullptr, RecordReport);
    EXPECT_EQ(provider.OpenFile(missing.c_str(), "rb"), nullptr);
    Tarn::SetReportHandlers(nullptr, nullptr, nullptr);
    EXPECT_EQ(gReport, "std_fopen failed: pFile = 0x00000000; pMode = rb; errno = 2; pFilename = " + missing +
                           "; msg = No such file or directory;");

    // An empty file's contents are a single zero byte.
    std::unique_ptr<IFile> empty(provider.OpenFile(dir.Write("empty", "").c_str(), "rb"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetSize(), 0);
    ASSERT_NE(empty->GetContents(), nullptr);
    EXPECT_EQ(empty->GetContents()[0], '\0');

    std::unique_ptr<IFile> file(provider.OpenFile(text.c_str(), "rb"));
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(file->GetName(), text.c_str());
    EXPECT_EQ(file->GetSize(), 18);
    char line[64];
    EXPECT_STREQ(file->ReadLine(line, sizeof(line)), "line one\n");
    // The contents are read once, from where the stream stands, and end in a zero byte.
    TarnTest::ScopedCalls calls;
    static int reads;
    reads = 0;
    Win32::gCalls.fread = [](void* buffer, size_t size, size_t count, FILE* stream) {
        ++reads;
        return Win32::DefaultCalls().fread(buffer, size, count, stream);
    };
    const char* contents = file->GetContents();
    ASSERT_NE(contents, nullptr);
    EXPECT_EQ(std::string(contents, 10), std::string("line\0two\0", 10));
    EXPECT_EQ(file->Seek(0, 0), 0);
    EXPECT_EQ(file->GetContents(), contents);
    EXPECT_EQ(reads, 1);
}
