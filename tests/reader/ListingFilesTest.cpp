#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "reader/ArchiveFile.h"
#include "reader/ProjectListing.h"
#include "reader/ReleaseManifest.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"
#include "writer/ProjectWriter.h"
#include "writer/Sample.h"

namespace fs = std::filesystem;
using Tarn::VELL::Reader::ProjectListing;
using Tarn::VELL::Writer::Compression;
using Tarn::VELL::Writer::FileSpec;
using Tarn::VELL::Writer::ProjectRelease;
using Tarn::VELL::Writer::SampleContent;
using Tarn::VELL::Writer::Storage;
using TarnTest::LogCapture;
using TarnTest::LoggedError;
using FileRecord = ProjectListing::FileRecord;

namespace {

const std::string kOpen = "Tarn::VELL::Reader::ProjectListing::Open: ";
const std::string kTooManyCloses =
    "Tarn::VELL::Reader::ProjectListing::FileInfo::RemoveReference: Attempting to close a file multiple times!";
const std::string kDump = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogCompressedData: ";
const std::string kInfo = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogArchiveInfo: ";
const std::string kEndOfFile =
    "Tarn::VELL::Reader::SyncRead: AsyncRead or SyncToken::Wait failed with error \"Reached the end of the file.\r\n\" "
    "(-2147024858).";
constexpr std::uint32_t kZlibFlags = 0x02 | 0x10 | 0x04;

FileSpec Item(std::string path, std::string content, Storage storage, Compression compression = Compression::Stored,
              std::optional<std::uint32_t> version = {})
{
    FileSpec item;
    item.path = std::move(path);
    item.content = std::move(content);
    item.storage = storage;
    item.compression = compression;
    item.version = version;
    return item;
}

// A release written below <dir>/VELL; Build() lists what is on disk by then.
struct Content {
    TarnTest::TempDir dir;
    fs::path root = dir.Path() / "VELL";
    Tarn::VELL::Writer::ProjectWriteResult written;
    std::unique_ptr<ProjectListing> listing;

    explicit Content(const ProjectRelease& release) : written(release.Write(root)) {}
    ProjectListing& Build()
    {
        auto manifest = Tarn::VELL::Reader::ReleaseManifest::Load(written.manifestPath.string().c_str());
        if (manifest) listing.reset(manifest->CreateListing(root.string().c_str()));
        if (!listing) throw std::runtime_error("no listing");
        return *listing;
    }
    const FileRecord* File(const char* path) const
    {
        const ProjectListing::EntryHeader* entry = listing->Lookup(path);
        return entry && listing->IsFile(entry) ? static_cast<const FileRecord*>(entry) : nullptr;
    }
};

std::atomic<int> gCreates, gReads, gCloses;
std::string gLastCreated;

void CountCalls()
{
    gCreates = gReads = gCloses = 0;
    Win32::gCalls.CreateFileA = [](Win32::LPCSTR path, Win32::DWORD access, Win32::DWORD share, void* security,
                                   Win32::DWORD disposition, Win32::DWORD flags, Win32::HANDLE templateFile) {
        ++gCreates;
        gLastCreated = path;
        return Win32::DefaultCalls().CreateFileA(path, access, share, security, disposition, flags, templateFile);
    };
    Win32::gCalls.ReadFile = [](Win32::HANDLE file, void* buffer, Win32::DWORD size, Win32::DWORD* read,
                                Win32::OVERLAPPED* overlapped) {
        ++gReads;
        return Win32::DefaultCalls().ReadFile(file, buffer, size, read, overlapped);
    };
    Win32::gCalls.CloseHandle = [](Win32::HANDLE handle) {
        ++gCloses;
        return Win32::DefaultCalls().CloseHandle(handle);
    };
}

// Reads the whole file in chunks, the first of one byte so that the others straddle blocks.
std::string ReadInChunks(ProjectListing& listing, const FileRecord* file, std::uint32_t chunk)
{
    std::string out(file->size, '\0');
    for (std::uint32_t at = 0, n = 1; at < file->size; at += n, n = chunk) {
        n = std::min(n, file->size - at);
        std::uint32_t read = 0;
        if (!listing.Read(file, at, n, &read, out.data() + at) || read != n) return "<short read at " + std::to_string(at) + ">";
    }
    return out;
}

std::string DumpLine(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string line(131, ' ');
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        const auto b = static_cast<unsigned char>(bytes[k]);
        line[3 * k] = hex[b >> 4];
        line[3 * k + 1] = hex[b & 15];
        line[98 + k] = b >= 32 && b <= 126 ? static_cast<char>(b) : '.';
    }
    return kDump + line;
}

std::string HashText(const char* path)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", Tarn::VELL::Reader::ArchiveFile::HashArchivePath(path));
    return text;
}

std::string Failure(const std::string& path, const std::string& dataPath, std::uint32_t offset, std::uint32_t archiveSize,
                    std::uint32_t entrySize)
{
    return "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogFailure: Failed to decompress archive file \"" + path +
           "\" from \"" + dataPath + "\", version=0.0.0.1, compressionId=1112099930, offset=" + std::to_string(offset) +
           ", archiveSize=" + std::to_string(archiveSize) + ", entrySize=" + std::to_string(entrySize) + ".";
}

}  // namespace

TEST(LooseFiles, OpenOneHandleForEveryOpenAndReportACloseTooMany)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    ProjectRelease release("P", 7);
    release.Add(Item("data/a.bin", "naked bytes", Storage::Naked))
        .Add(Item("data/m.bin", "managed", Storage::Managed, Compression::Stored, 0x01020304));
    Content content(release);
    ProjectListing& listing = content.Build();
    const FileRecord* naked = content.File("data/a.bin");
    ProjectListing::FileInfo* info = listing.AsNakedFile(naked->storage);
    ASSERT_NE(info, nullptr);

    CountCalls();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(listing.Open(naked));
    EXPECT_EQ(gCreates.load(), 1);
    EXPECT_EQ(gLastCreated, (content.root / "projects/P/releases/0.0.0.7/deploy/data/a.bin").string());
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kTraceTags, kOpen + "Opening file \"a.bin\"."));

    const Win32::HANDLE handle = info->handle;
    listing.RemoveReference(naked);
    listing.RemoveReference(naked);
    EXPECT_EQ(info->handle, handle);
    EXPECT_EQ(gCloses.load(), 0);
    listing.RemoveReference(naked);
    EXPECT_EQ(info->handle, nullptr);
    listing.RemoveReference(naked);
    EXPECT_TRUE(LoggedError(log, kTooManyCloses));
    EXPECT_TRUE(
        TarnTest::NotLogged(log, "Tarn::VELL::Reader::ProjectListing::FileInfo::Close: A null file handle was passed to Close."));
    EXPECT_EQ(info->refCount, 0u);
    EXPECT_EQ(gCloses.load(), 1);

    const FileRecord* managed = content.File("DATA/M.BIN");
    ASSERT_TRUE(listing.Open(managed));
    EXPECT_EQ(gLastCreated, (content.root / "projects/P/managedfiles/1.2.3.4/data/m.bin").string());
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kTraceTags, kOpen + "Opening managed file \"m.bin\"."));
    EXPECT_EQ(ReadInChunks(listing, managed, 4), "managed");
    listing.RemoveReference(managed);
    EXPECT_EQ(gCloses.load(), 2);
}

TEST(LooseFiles, AFileRemovedAfterTheBuildFailsToOpenAndIsTriedAgainNextTime)
{
    LogCapture log;
    ProjectRelease release("P", 2);
    release.Add(Item("n.txt", "first", Storage::Naked));
    Content content(release);
    ProjectListing& listing = content.Build();
    const fs::path path = content.written.deployDirectory / "n.txt";
    fs::remove(path);

    const FileRecord* file = content.File("n.txt");
    EXPECT_FALSE(listing.Open(file));
    const std::string name = "Tarn::VELL::Reader::ProjectListing::OpenNakedFile: ";
    EXPECT_TRUE(log.InOrder({name + "Failed to open: " + path.string(), name + "No such file or directory"})) << log.Dump();
    const ProjectListing::FileInfo* info = listing.AsNakedFile(file->storage);
    EXPECT_EQ(info->refCount, 0u);
    EXPECT_EQ(info->handle, nullptr);

    content.dir.Write("VELL/projects/P/releases/0.0.0.2/deploy/n.txt", "again");
    ASSERT_TRUE(listing.Open(file));
    EXPECT_EQ(ReadInChunks(listing, file, 5), "again");
    listing.RemoveReference(file);
    EXPECT_EQ(info->refCount, 0u);
}

TEST(ListingAccess, RefusesWhatIsNoFileWithContentAndLeavesZeroSizeReadsUntouched)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    ProjectRelease release("P", 1);
    release.Add(Item("DATA/Sub/a.txt", "abc", Storage::Naked)).Add(Item("DATA/gone.txt", "g", Storage::Naked));
    Content content(release);
    fs::remove(content.written.deployDirectory / "DATA" / "gone.txt");
    ProjectListing& listing = content.Build();
    const FileRecord *file = content.File("DATA/Sub/a.txt"), *gone = content.File("data/GONE.txt");

    EXPECT_FALSE(listing.Open(nullptr));
    EXPECT_FALSE(listing.Open(listing.Lookup("data/sub")));
    EXPECT_FALSE(listing.Open(listing.Root()));
    EXPECT_FALSE(listing.Open(gone));
    for (const std::string text :
         {"VELL cannot open the file system entry because it's null.",
          "VELL cannot open file system entry \"DATA/Sub\" because it failed to get the associated file entry.",
          "VELL cannot open file system entry \"\" because it failed to get the associated file entry.",
          "VELL cannot open \"DATA/gone.txt\" because the file wasn't found."})
        EXPECT_TRUE(LoggedError(log, kOpen + text));

    const std::string read = "Tarn::VELL::Reader::ProjectListing::Read: VELL cannot read from the file system entry because ";
    char buffer[8];
    std::uint32_t count = 77;
    EXPECT_FALSE(listing.Read(listing.Lookup("DATA"), 0, 3, &count, buffer));
    EXPECT_FALSE(listing.Read(nullptr, 0, 3, &count, buffer));
    EXPECT_EQ(log.Count(read + "the file entry is null."), 2u) << log.Dump();
    EXPECT_FALSE(listing.Read(gone, 0, 1, &count, buffer));
    EXPECT_TRUE(LoggedError(log, read + "the handle is invalid."));
    EXPECT_FALSE(listing.Read(file, 0, 3, &count, buffer));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::ProjectListing::FileInfo::Read: A null file handle was passed to Read."));
    EXPECT_EQ(count, 77u);

    // Closing what cannot be open is silent.
    const std::size_t logged = log.Texts().size();
    listing.RemoveReference(nullptr);
    listing.RemoveReference(listing.Lookup("DATA"));
    listing.RemoveReference(gone);
    EXPECT_EQ(log.Texts().size(), logged) << log.Dump();

    ASSERT_TRUE(listing.Open(file));
    CountCalls();
    EXPECT_TRUE(listing.Read(file, 0, 0, &count, buffer));
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(gReads.load(), 0);
    EXPECT_FALSE(listing.Read(file, 3, 1, &count, buffer));
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_ERROR, 1, kEndOfFile));
    listing.RemoveReference(file);
}

TEST(CompressedEntries, AreDecompressedOncePerOpenPeriod)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    const std::string bytes = SampleContent("P", 1, "DATA/big.bin", 300000);
    ProjectRelease release("P", 1);
    release.Add(Item("DATA/big.bin", bytes, Storage::Archived, Compression::Zlib));
    Content content(release);
    ProjectListing& listing = content.Build();
    const FileRecord* file = content.File("DATA/big.bin");
    const ProjectListing::ArchiveFile* entry = listing.AsArchiveFile(file->storage);
    ASSERT_NE(entry, nullptr);

    CountCalls();
    ASSERT_TRUE(listing.Open(file));
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kTraceTags, kOpen + "Opening archive file \"big.bin\"."));
    const int decompressionReads = gReads.load();
    EXPECT_GT(decompressionReads, 0);
    ASSERT_TRUE(listing.Open(file));
    EXPECT_EQ(entry->blocks.BlockCount(), 2u);
    EXPECT_EQ(ReadInChunks(listing, file, 70000), bytes);
    EXPECT_EQ(gReads.load(), decompressionReads) << "decompressed again, or read from the file";

    listing.RemoveReference(file);
    EXPECT_EQ(entry->blocks.TotalSize(), 300000u);
    listing.RemoveReference(file);
    EXPECT_EQ(entry->blocks.TotalSize(), 0u);
    EXPECT_EQ(entry->blocks.BlockCount(), 0u);
    EXPECT_EQ(gCloses.load(), 0) << "the shared data file stays open";

    ASSERT_TRUE(listing.Open(file));
    EXPECT_EQ(gReads.load(), 2 * decompressionReads);
    EXPECT_EQ(ReadInChunks(listing, file, 262144), bytes);
    listing.RemoveReference(file);
    listing.RemoveReference(file);
    EXPECT_TRUE(LoggedError(log, kTooManyCloses));
}

TEST(CompressedEntries, ReadTheirContentAcrossBlockBoundariesWithEveryCodec)
{
    LogCapture log;
    ProjectRelease release("P", 1);
    for (const Compression codec : {Compression::Zlib, Compression::Lzma, Compression::Stored})
        for (std::uint32_t size : {0u, 1u, 262144u, 600000u}) {
            const std::string path = Tarn::VELL::Writer::CompressionName(codec) + ("/" + std::to_string(size));
            release.Add(Item(path, SampleContent("P", 1, path, size), Storage::Archived, codec));
        }
    Content content(release);
    ProjectListing& listing = content.Build();
    for (const FileSpec& item : release.Files()) {
        SCOPED_TRACE(item.path);
        const FileRecord* file = content.File(item.path.c_str());
        ASSERT_TRUE(file && listing.Open(file));
        EXPECT_EQ(ReadInChunks(listing, file, 100000), item.content);
        std::uint32_t read = 5;
        char byte;
        EXPECT_FALSE(listing.Read(file, item.content.size(), 1, &read, &byte));
        EXPECT_EQ(read, 0u);
        listing.RemoveReference(file);
    }
}

TEST(CompressedEntries, CopyWhatIsLeftAndFailAShortReadSilently)
{
    LogCapture log;
    const std::string bytes = SampleContent("P", 1, "sixty.txt", 60);
    ProjectRelease release("P", 1);
    release.Add(Item("sixty.txt", bytes, Storage::Archived, Compression::Lzma));
    Content content(release);
    ProjectListing& listing = content.Build();
    const FileRecord* file = content.File("sixty.txt");
    ASSERT_TRUE(listing.Open(file));

    std::string buffer(100, '#');
    std::uint32_t read = 0;
    EXPECT_FALSE(listing.Read(file, 0, 100, &read, buffer.data()));
    EXPECT_EQ(read, 60u);
    EXPECT_EQ(buffer, bytes + std::string(40, '#'));
    EXPECT_TRUE(listing.Read(file, 50, 10, &read, buffer.data()));
    EXPECT_EQ(buffer.substr(0, 10), bytes.substr(50));
    EXPECT_FALSE(listing.Read(file, 0x100000000ull, 10, &read, buffer.data()));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
    listing.RemoveReference(file);
}

TEST(StoredEntries, AreClippedToTheirEntryAndMustMatchTheManifestSize)
{
    LogCapture log;
    FileSpec mismatch = Item("DATA/bad.bin", "0123456789", Storage::Archived);
    mismatch.manifestSize = 12;
    ProjectRelease release("P", 1);
    release.Add(Item("DATA/first.bin", "0123456789", Storage::Archived))
        .Add(Item("DATA/second.bin", "ABCDEFGHIJ", Storage::Archived))
        .Add(mismatch);
    Content content(release);
    ProjectListing& listing = content.Build();
    const FileRecord *first = content.File("DATA/first.bin"), *second = content.File("DATA/second.bin");
    ASSERT_TRUE(listing.Open(first) && listing.Open(second));

    std::string buffer(20, '#');
    std::uint32_t read = 0;
    EXPECT_TRUE(listing.Read(first, 0, 20, &read, buffer.data()));
    EXPECT_EQ(read, 10u);
    EXPECT_EQ(buffer, "0123456789" + std::string(10, '#')) << "the next entry's bytes reached the host";
    EXPECT_TRUE(listing.Read(second, 8, 5, &read, buffer.data()));
    EXPECT_EQ(buffer.substr(0, read), "IJ");
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();
    for (std::uint64_t offset : {10ull, 11ull, 0x100000000ull}) {
        read = 9;
        EXPECT_FALSE(listing.Read(first, offset, 4, &read, buffer.data())) << offset;
        EXPECT_EQ(read, 0u);
    }
    EXPECT_EQ(log.Count(kEndOfFile), 3u) << log.Dump();
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_ERROR, 1, kEndOfFile));
    listing.RemoveReference(first);
    listing.RemoveReference(second);

    const FileRecord* bad = content.File("DATA/bad.bin");
    EXPECT_FALSE(listing.Open(bad));
    EXPECT_FALSE(listing.Open(bad));
    const std::string text = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::Open: Mismatch between manifest size and "
                             "archive size for: DATA/bad.bin";
    EXPECT_TRUE(LoggedError(log, text));
    EXPECT_EQ(log.Count(text), 2u);
    EXPECT_EQ(listing.AsArchiveFile(bad->storage)->refCount, 0u);
}

TEST(FailureReport, DumpsSmallEntriesListsTheArchiveAndRepeatsOnTheNextOpen)
{
    LogCapture log;
    std::string small = std::string("A") + '\0';
    for (int k = 2; k < 40; ++k) small += static_cast<char>(0x20 + 3 * k);
    FileSpec bad = Item("DATA/bad.bin", small, Storage::Archived);
    FileSpec huge = Item("DATA/huge.bin", std::string(33000, 'x'), Storage::Archived);
    bad.flags = huge.flags = kZlibFlags;  // stored bytes taken for a zlib stream
    ProjectRelease release("P", 1);
    release.Add(bad).Add(huge).Add(Item("DATA/good.txt", "fine", Storage::Archived));
    Content content(release);
    ProjectListing& listing = content.Build();
    const std::string dataPath = content.written.archives.at(0).dataPath.string();
    const std::string displaying = kInfo + "Displaying entries from \"" + content.written.archives[0].indexPath.string() +
                                   "\" (version: 1).  Hash of failed to load file: ";
    // The index lists its entries by hash; the data file holds them in name order.
    std::vector<std::pair<std::string, std::string>> entries = {
        {HashText("DATA/bad.bin"), "Offset=0, Size=40, DATA/bad.bin"},
        {HashText("DATA/good.txt"), "Offset=40, Size=4, DATA/good.txt"},
        {HashText("DATA/huge.bin"), "Offset=44, Size=33000, DATA/huge.bin"}};
    std::sort(entries.begin(), entries.end());
    const auto dumps = [&] {
        const auto texts = log.Texts();
        return std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind(kDump, 0) == 0; });
    };

    const FileRecord* file = content.File("DATA/bad.bin");
    EXPECT_FALSE(listing.Open(file));
    std::vector<std::string> expected = {Failure("DATA/bad.bin", dataPath, 0, 40, 40), DumpLine(small.substr(0, 32)),
                                         DumpLine(small.substr(32)), displaying + HashText("DATA/bad.bin")};
    for (const auto& [hash, rest] : entries) expected.push_back(kInfo + "Archive Entry: Hash=" + hash + ", " + rest);
    for (const std::string& text : expected) EXPECT_TRUE(LoggedError(log, text));
    EXPECT_TRUE(log.InOrder(expected)) << log.Dump();
    EXPECT_EQ(dumps(), 2);
    const std::string line = expected[1].substr(kDump.size());
    EXPECT_EQ(line.size(), 131u);
    EXPECT_EQ(line.substr(0, 6) + line.substr(98, 2), "41 00 A.");

    const ProjectListing::ArchiveFile* entry = listing.AsArchiveFile(file->storage);
    EXPECT_EQ(entry->refCount, 0u);
    EXPECT_EQ(entry->blocks.TotalSize(), 0u);
    EXPECT_FALSE(listing.Open(file));
    EXPECT_EQ(log.Count(expected[0]), 2u);
    EXPECT_EQ(dumps(), 4);

    // An entry of more than 32768 bytes is reported without a dump.
    log.Clear();
    EXPECT_FALSE(listing.Open(content.File("DATA/huge.bin")));
    expected = {Failure("DATA/huge.bin", dataPath, 44, 33000, 33000), displaying + HashText("DATA/huge.bin"), expected[4],
                expected[5], expected[6]};
    EXPECT_TRUE(log.InOrder(expected)) << log.Dump();
    EXPECT_EQ(dumps(), 0);
}

TEST(FailureReport, SaysWhatItCannotReadAndFollowsASizeThatCannotBeAllocated)
{
    LogCapture log;
    FileSpec unallocatable = Item("DATA/small.bin", std::string(100, 's'), Storage::Archived, Compression::Zlib);
    unallocatable.manifestSize = 0xFFFFFFFFu;
    ProjectRelease release("P", 1);
    release.Add(unallocatable).Add(Item("DATA/z.bin", std::string(50, 'z'), Storage::Archived, Compression::Zlib));
    Content content(release);
    ProjectListing& listing = content.Build();
    const auto& archive = content.written.archives.at(0);
    const FileRecord* file = content.File("DATA/small.bin");
    const ProjectListing::ArchiveFile* entry = listing.AsArchiveFile(file->storage);

    EXPECT_FALSE(listing.Open(file));
    EXPECT_TRUE(LoggedError(log, Failure("DATA/small.bin", archive.dataPath.string(), 0, entry->archiveSize, 0xFFFFFFFFu)));
    EXPECT_TRUE(LoggedError(log, kInfo + "Archive Entry: Hash=" + HashText("DATA/small.bin") + ", Offset=0, Size=" +
                                     std::to_string(entry->archiveSize) + ", DATA/small.bin"));
    EXPECT_EQ(entry->refCount, 0u);
    EXPECT_EQ(entry->blocks.BlockCount(), 0u);

    // The data file cut short and the index gone: the report says so and ends.
    log.Clear();
    fs::resize_file(archive.dataPath, 0);
    fs::remove(archive.indexPath);
    const FileRecord* z = content.File("DATA/z.bin");
    EXPECT_FALSE(listing.Open(z));
    EXPECT_TRUE(log.InOrder({Failure("DATA/z.bin", archive.dataPath.string(), entry->archiveSize,
                                     listing.AsArchiveFile(z->storage)->archiveSize, 50),
                             kDump + "Failed to read data from \"" + archive.dataPath.string() + "\" to log the failed data.",
                             kInfo + "Failed to read the archive metadata from \"" + archive.indexPath.string() + "\"!"}))
        << log.Dump();
}

TEST(ListingTeardown, ReportsEachFileStillOpenOnceAndClosesEveryHandle)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    ProjectRelease release("P", 1);
    release.Add(Item("a.bin", "aaaa", Storage::Archived))
        .Add(Item("b.bin", "bbbb", Storage::Archived, Compression::Zlib))
        .Add(Item("n.txt", "naked", Storage::Naked))
        .Add(Item("m.txt", "managed", Storage::Managed));
    const std::string notClosed = "Tarn::VELL::Reader::ProjectListing::FileInfo::Reset: The file was not closed before shutdown.";

    for (const char* leftOpen : {"n.txt", "b.bin"}) {
        SCOPED_TRACE(leftOpen);
        log.Clear();
        Content content(release);
        ProjectListing& listing = content.Build();
        ASSERT_TRUE(listing.Open(content.File(leftOpen)));
        for (const char* closed : {"m.txt", "a.bin"}) {
            ASSERT_TRUE(listing.Open(content.File(closed)));
            listing.RemoveReference(content.File(closed));
        }
        CountCalls();
        content.listing.reset();
        EXPECT_EQ(log.Count(notClosed), 1u) << log.Dump();
        EXPECT_TRUE(LoggedError(log, notClosed));
        // The one data file, and the naked file when it is the one left open.
        EXPECT_EQ(gCloses.load(), std::string(leftOpen) == "n.txt" ? 2 : 1);
        Win32::RestoreDefaultCalls();
    }
}
