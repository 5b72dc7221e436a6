// Directory iteration and file providers: the entries a wildcard search yields and how each
// search is closed, and the sparse provider that opens, tests and reads loose files.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CStd/Report.h"
#include "file/FileIterator.h"
#include "file/IFile.h"
#include "file/SparseFileProvider.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"

using namespace Tarn::File;
using TarnSupport::TempDir;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// The entries a search yields, directories marked with a final '/'; past the end it stays there.
Names Search(const std::string& pattern, std::uint32_t flags)
{
    auto it = CreateFileIterator(pattern.c_str(), flags);
    if (!it) return {"<no iterator>"};
    Names seen;
    for (; it->IsValid(); it->Next()) seen.push_back(std::string(it->GetName()) + (it->IsDirectory() ? "/" : ""));
    it->Next();
    return it->IsValid() ? Names{"<valid past the end>"} : seen;
}

// Files a.olm, c.olm, z.olm, notes.txt and directories b.olm, sub.olm.
std::string Populate(const TempDir& dir)
{
    for (const char* file : {"a.olm", "c.olm", "z.olm", "notes.txt"}) dir.Write(file, "x");
    for (const char* directory : {"b.olm", "sub.olm"}) fs::create_directory(dir.Path() / directory);
    return dir.Path().generic_string();
}

int gCounted = 0;  // calls of the hooked platform function
std::string gReport;

}  // namespace

TEST(FileIterator, YieldsMatchingEntriesWithTheirPathsButNeverTheDotEntriesAndClosesEachSearchOnce)
{
    TempDir dir;
    const std::string root = Populate(dir);
    // "/tmp/x/y" written as "/tmp\\\\x\\y\\//*.olm": backslashes and doubled separators.
    std::string messy = root;
    std::replace(messy.begin() + 1, messy.end(), '/', '\\');
    messy.insert(messy.find('\\'), "\\");
    auto it = CreateFileIterator((messy + "\\//*.olm").c_str(), 8);
    auto* wrapped = dynamic_cast<ExtendedFileIterator*>(it.get());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(std::string(wrapped->GetBaseDirectory()) + "|" + wrapped->GetSearchDirectory(), root + "|" + root);
    Names paths, expected;
    for (; it->IsValid(); it->Next()) paths.push_back(std::string(wrapped->GetFullPath()) + "|" + wrapped->GetRelativePath());
    for (const char* name : {"a.olm", "b.olm", "c.olm", "sub.olm", "z.olm"}) expected.push_back(root + "/" + name + "|" + name);
    EXPECT_EQ(paths, expected);
    EXPECT_STREQ(wrapped->GetFullPath(), (root + "/z.olm").c_str());  // exhausted, it keeps the last entry's
    // Without a slash the pattern searches the current directory, and the base directory is empty.
    const fs::path previous = fs::current_path();
    fs::current_path(dir.Path());
    it = CreateFileIterator("s*", 8);
    fs::current_path(previous);
    wrapped = dynamic_cast<ExtendedFileIterator*>(it.get());
    ASSERT_TRUE(wrapped && wrapped->IsValid());
    EXPECT_EQ(std::string(wrapped->GetBaseDirectory()) + "|" + wrapped->GetFullPath() + "|" + wrapped->GetRelativePath(),
              "|sub.olm|sub.olm");

    TarnTest::ScopedCalls calls;
    Win32::gCalls.FindClose = [](Win32::HANDLE search) {
        ++gCounted;
        return Win32::DefaultCalls().FindClose(search);
    };
    gCounted = 0;
    EXPECT_EQ(Search(root + "/*.olm", 8), (Names{"a.olm", "b.olm/", "c.olm", "sub.olm/", "z.olm"}));
    EXPECT_EQ(Search(root + "/*", 8), (Names{"a.olm", "b.olm/", "c.olm", "notes.txt", "sub.olm/", "z.olm"}));
    EXPECT_EQ(Search(root + "/?.OLM", 0), (Names{"a.olm", "b.olm/", "c.olm", "z.olm"}));
    // Directories only: files before, between and after them are skipped, and so are "." and "..".
    EXPECT_EQ(Search(root + "/*", kDirectoriesOnly), (Names{"b.olm/", "sub.olm/"}));
    EXPECT_EQ(Search(root + "/*.olm", kDirectoriesOnly | 8), (Names{"b.olm/", "sub.olm/"}));
    EXPECT_EQ(Search(root + "/*.txt", kDirectoriesOnly), Names{});
    CreateFileIterator((root + "/*.olm").c_str(), 8).reset();
    EXPECT_EQ(gCounted, 7);
    // A directory holding only "." and "..", and a missing one, give an iterator invalid at once.
    fs::create_directory(dir.Path() / "empty");
    for (const std::string& pattern : {root + "/empty/*", root + "/missing/*.olm", root + "/*.none"})
        EXPECT_EQ(Search(pattern, 8), Names{}) << pattern;
    EXPECT_EQ(gCounted, 8);  // nothing to close where nothing was found

    // An error while fetching the next entry ends the iteration like the end of the directory.
    Win32::gCalls.FindNextFileA = [](Win32::HANDLE, Win32::WIN32_FIND_DATAA*) -> Win32::BOOL {
        Win32::SetLastError(Win32::kErrorReadFault);
        return 0;
    };
    EXPECT_EQ(Search(root + "/*.olm", 8), Names{"a.olm"});
    EXPECT_EQ(Search(root + "/*", 8), Names{});  // "." came first, and nothing after it
    EXPECT_EQ(gCounted, 10);
}

TEST(SparseFileProvider, OpensFilesTestsAccessAndReadsContentsOnce)
{
    TempDir dir;
    const std::string text = dir.Write("text.txt", std::string("line one\nline\0two", 18)), missing = dir / "missing.txt";
    SparseFileProvider provider;
    EXPECT_EQ(provider.Access(missing.c_str(), 0), -1);
    EXPECT_EQ(provider.Access(text.c_str(), 4), 0);
    gReport.clear();
    Tarn::SetReportHandlers(nullptr, nullptr, [](const char* report) { gReport += report; });
    EXPECT_EQ(provider.OpenFile(missing.c_str(), "rb"), nullptr);
    Tarn::SetReportHandlers(nullptr, nullptr, nullptr);
    EXPECT_EQ(gReport, "std_fopen failed: pFile = 0x00000000; pMode = rb; errno = 2; pFilename = " + missing +
                           "; msg = No such file or directory;");

    // An empty file's contents are a single zero byte.
    std::unique_ptr<IFile> empty(provider.OpenFile(dir.Write("empty", "").c_str(), "rb"));
    ASSERT_TRUE(empty && empty->GetSize() == 0 && empty->GetContents());
    EXPECT_EQ(empty->GetContents()[0], '\0');

    // The contents are read once, from where the stream stands, and end in a zero byte.
    std::unique_ptr<IFile> file(provider.OpenFile(text.c_str(), "rb"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetSize(), 18);
    char line[64];
    EXPECT_STREQ(file->ReadLine(line, sizeof(line)), "line one\n");
    TarnTest::ScopedCalls calls;
    gCounted = 0;
    Win32::gCalls.fread = [](auto... arguments) {
        ++gCounted;
        return Win32::DefaultCalls().fread(arguments...);
    };
    const char* contents = file->GetContents();
    ASSERT_NE(contents, nullptr);
    EXPECT_EQ(std::string(contents, 10), std::string("line\0two\0", 10));
    EXPECT_EQ(file->Seek(0, 0), 0);
    EXPECT_EQ(file->GetContents(), contents);
    EXPECT_EQ(gCounted, 1);
}
