// Files opened through a listing: loose-file handles, archived entries with every codec,
// decompression once per open period, the failure reports, and the teardown of open files.
#include <cstdio>

#include "reader/ArchiveFile.h"
#include "writer/Sample.h"

#include "ReaderTestSupport.h"

using namespace ReaderTest;
using W::SampleContent;

namespace {

const std::string kOpen = "Tarn::VELL::Reader::ProjectListing::Open: ";
const std::string kTooManyCloses =
    "Tarn::VELL::Reader::ProjectListing::FileInfo::RemoveReference: Attempting to close a file multiple times!";
const std::string kDump = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogCompressedData: ";
const std::string kInfo = "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogArchiveInfo: ";

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

std::string Entry(const char* path, std::uint32_t offset, std::uint32_t size)
{
    char hash[16];
    std::snprintf(hash, sizeof(hash), "0x%08x", Tarn::VELL::Reader::ArchiveFile::HashArchivePath(path));
    return kInfo + "Archive Entry: Hash=" + hash + ", Offset=" + std::to_string(offset) + ", Size=" + std::to_string(size) +
           ", " + path;
}

std::string Failure(const std::string& path, const std::string& dataPath, std::uint32_t offset, std::uint32_t archiveSize,
                    std::uint32_t entrySize)
{
    return "Tarn::VELL::Reader::ProjectListing::ArchiveFile::LogFailure: Failed to decompress archive file \"" + path +
           "\" from \"" + dataPath + "\", version=0.0.0.1, compressionId=1112099930, offset=" + std::to_string(offset) +
           ", archiveSize=" + std::to_string(archiveSize) + ", entrySize=" + std::to_string(entrySize) + ".";
}

}  // namespace

TEST(LooseFiles, OpenOneHandleForEveryOpenReportACloseTooManyAndRetryAFileRemovedAfterTheBuild)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    Content content(ProjectRelease("P", 7)
                        .Add("data/a.bin", "naked bytes", Storage::Naked)
                        .Add("n.txt", "first", Storage::Naked)
                        .Add(Item("data/m.bin", "managed", Storage::Managed, Compression::Stored, 0x01020304)));
    ProjectListing& listing = content.Build();
    const FileRecord* naked = content.File("data/a.bin");
    ProjectListing::FileInfo* info = listing.AsNakedFile(naked->storage);
    ASSERT_NE(info, nullptr);

    CountCalls();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(listing.Open(naked));
    EXPECT_EQ(gCreated, std::vector<std::string>{(content.written.deployDirectory / "data/a.bin").generic_string()});
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kTraceTags, kOpen + "Opening file \"a.bin\"."));
    listing.RemoveReference(naked);
    listing.RemoveReference(naked);
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
    EXPECT_EQ(gCreated.back(), (content.root / "projects/P/managedfiles/1.2.3.4/data/m.bin").generic_string());
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_OKAY, LogCapture::kTraceTags, kOpen + "Opening managed file \"m.bin\"."));
    EXPECT_EQ(ReadInChunks(listing, managed, 4), "managed");
    listing.RemoveReference(managed);
    EXPECT_EQ(gCloses.load(), 2);

    const fs::path path = content.written.deployDirectory / "n.txt";
    fs::remove(path);
    EXPECT_FALSE(listing.Open(content.File("n.txt")));
    const std::string name = "Tarn::VELL::Reader::ProjectListing::OpenNakedFile: ";
    EXPECT_TRUE(log.InOrder({name + "Failed to open: " + path.generic_string(), name + "No such file or directory"})) << log.Dump();
    info = listing.AsNakedFile(content.File("n.txt")->storage);
    EXPECT_EQ(info->refCount, 0u);
    EXPECT_EQ(info->handle, nullptr);
    content.dir.Write(path.generic_string(), "again");
    EXPECT_EQ(ReadWhole(listing, "n.txt"), "again");
    EXPECT_EQ(info->refCount, 0u);
}

TEST(ListingAccess, RefusesWhatIsNoFileWithContentAndLeavesZeroSizeReadsUntouched)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    Content content(ProjectRelease("P", 1).Add("DATA/Sub/a.txt", "abc", Storage::Naked).Add("DATA/gone.txt", "g", Storage::Naked));
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
    listing.RemoveReference(file);
}

TEST(CompressedEntries, AreDecompressedOncePerOpenPeriod)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    const std::string bytes = SampleContent("P", 1, "DATA/big.bin", 300000);
    Content content(ProjectRelease("P", 1).Add("DATA/big.bin", bytes, Storage::Archived, Compression::Zlib));
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
    EXPECT_EQ(entry->blocks.TotalSize() + entry->blocks.BlockCount(), 0u);
    EXPECT_EQ(gCloses.load(), 0) << "the shared data file stays open";

    ASSERT_TRUE(listing.Open(file));
    EXPECT_EQ(gReads.load(), 2 * decompressionReads);
    EXPECT_EQ(ReadInChunks(listing, file, 262144), bytes);
    listing.RemoveReference(file);
    listing.RemoveReference(file);
    EXPECT_TRUE(LoggedError(log, kTooManyCloses));
}

TEST(ArchivedEntries, ReadWithEveryCodecAcrossBlocksAndNoFurtherThanTheirEnd)
{
    LogCapture log;
    ProjectRelease release("P", 1);
    for (const Compression codec : {Compression::Zlib, Compression::Lzma, Compression::Stored})
        for (std::uint32_t size : {0u, 1u, 262144u, 600000u}) {
            const std::string path = W::CompressionName(codec) + ("/" + std::to_string(size));
            release.Add(path, SampleContent("P", 1, path, size), Storage::Archived, codec);
        }
    const std::string sixty = SampleContent("P", 1, "sixty.txt", 60);
    FileSpec mismatch = Item("DATA/bad.bin", "0123456789", Storage::Archived);
    mismatch.manifestSize = 12;
    Content content(release.Add("sixty.txt", sixty, Storage::Archived, Compression::Lzma).Add(mismatch));
    ProjectListing& listing = content.Build();
    for (const FileSpec& item : release.Files()) {
        if (item.manifestSize) continue;
        SCOPED_TRACE(item.path);
        const FileRecord* file = content.File(item.path.c_str());
        ASSERT_TRUE(file && listing.Open(file));
        EXPECT_EQ(ReadInChunks(listing, file, 100000), item.content);
        for (std::uint64_t offset : {std::uint64_t{file->size}, std::uint64_t{file->size} + 1, std::uint64_t{1} << 32}) {
            std::uint32_t read = 5;
            char byte;
            EXPECT_FALSE(listing.Read(file, offset, 1, &read, &byte)) << offset;
            EXPECT_EQ(read, 0u);
        }
        listing.RemoveReference(file);
    }

    // A stored entry's reads are clipped to it: the next entry's bytes never reach the host.
    log.Clear();
    for (const auto& [path, offset] : {std::pair{"stored/1", 0u}, std::pair{"stored/262144", 262142u}}) {
        const FileRecord* file = content.File(path);
        ASSERT_TRUE(listing.Open(file));
        std::string buffer(20, '#');
        std::uint32_t read = 0;
        EXPECT_TRUE(listing.Read(file, offset, 20, &read, buffer.data())) << path;
        EXPECT_EQ(buffer, SampleContent("P", 1, path, file->size).substr(offset) + std::string(20 - read, '#')) << path;
        EXPECT_EQ(read, file->size - offset);
        listing.RemoveReference(file);
    }
    // A compressed one copies what is left and fails.
    const FileRecord* file = content.File("sixty.txt");
    ASSERT_TRUE(listing.Open(file));
    std::string buffer(100, '#');
    std::uint32_t read = 0;
    EXPECT_FALSE(listing.Read(file, 0, 100, &read, buffer.data()));
    EXPECT_EQ(read, 60u);
    EXPECT_EQ(buffer, sixty + std::string(40, '#'));
    EXPECT_TRUE(listing.Read(file, 50, 10, &read, buffer.data()));
    EXPECT_EQ(buffer.substr(0, 10), sixty.substr(50));
    listing.RemoveReference(file);
    EXPECT_TRUE(log.Texts(VELL_LOG_WARN).empty()) << log.Dump();

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
    bad.flags = huge.flags = 0x02 | 0x10 | 0x04;  // stored bytes taken for a zlib stream
    Content content(ProjectRelease("P", 1).Add(bad).Add(huge).Add("DATA/good.txt", "fine", Storage::Archived, Compression::Stored));
    ProjectListing& listing = content.Build();
    const std::string dataPath = content.written.archives.at(0).dataPath.generic_string();
    const std::string displaying = kInfo + "Displaying entries from \"" + content.written.archives[0].indexPath.generic_string() +
                                   "\" (version: 1).  Hash of failed to load file: ";
    // The index lists its entries by hash; the data file holds them in name order.
    std::vector<std::string> entries = {Entry("DATA/bad.bin", 0, 40), Entry("DATA/good.txt", 40, 4),
                                        Entry("DATA/huge.bin", 44, 33000)};
    std::sort(entries.begin(), entries.end());
    const auto dumps = [&] {
        const auto texts = log.Texts();
        return std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind(kDump, 0) == 0; });
    };
    const auto hash = [](const char* path) { return Entry(path, 0, 0).substr(kInfo.size() + 20, 10); };

    const FileRecord* file = content.File("DATA/bad.bin");
    EXPECT_FALSE(listing.Open(file));
    std::vector<std::string> expected = {Failure("DATA/bad.bin", dataPath, 0, 40, 40), DumpLine(small.substr(0, 32)),
                                         DumpLine(small.substr(32)), displaying + hash("DATA/bad.bin")};
    expected.insert(expected.end(), entries.begin(), entries.end());
    for (const std::string& text : expected) EXPECT_TRUE(LoggedError(log, text));
    EXPECT_TRUE(log.InOrder(expected)) << log.Dump();
    EXPECT_EQ(dumps(), 2);
    const std::string line = expected[1].substr(kDump.size());
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
    expected = {Failure("DATA/huge.bin", dataPath, 44, 33000, 33000), displaying + hash("DATA/huge.bin")};
    expected.insert(expected.end(), entries.begin(), entries.end());
    EXPECT_TRUE(log.InOrder(expected)) << log.Dump();
    EXPECT_EQ(dumps(), 0);
}

TEST(FailureReport, SaysWhatItCannotReadAndFollowsASizeThatCannotBeAllocated)
{
    LogCapture log;
    FileSpec unallocatable = Item("DATA/small.bin", std::string(100, 's'), Storage::Archived, Compression::Zlib);
    unallocatable.manifestSize = 0xFFFFFFFFu;
    Content content(ProjectRelease("P", 1).Add(unallocatable).Add("DATA/z.bin", std::string(50, 'z'), Storage::Archived));
    ProjectListing& listing = content.Build();
    const auto& archive = content.written.archives.at(0);
    const FileRecord* file = content.File("DATA/small.bin");
    const ProjectListing::ArchiveFile* entry = listing.AsArchiveFile(file->storage);

    EXPECT_FALSE(listing.Open(file));
    EXPECT_TRUE(LoggedError(log, Failure("DATA/small.bin", archive.dataPath.generic_string(), 0, entry->archiveSize, 0xFFFFFFFFu)));
    EXPECT_TRUE(LoggedError(log, Entry("DATA/small.bin", 0, entry->archiveSize)));
    EXPECT_EQ(entry->refCount, 0u);
    EXPECT_EQ(entry->blocks.BlockCount(), 0u);

    // The data file reads as if cut short (Windows lets no one cut a file the listing holds
    // open) and the index is gone: the report says so and ends.
    log.Clear();
    TarnTest::ScopedCalls calls;
    Win32::gCalls.ReadFile = [](auto...) -> Win32::BOOL {
        Win32::SetLastError(Win32::kErrorHandleEof);
        return Win32::FALSE;
    };
    fs::remove(archive.indexPath);
    const FileRecord* z = content.File("DATA/z.bin");
    EXPECT_FALSE(listing.Open(z));
    EXPECT_TRUE(log.InOrder({Failure("DATA/z.bin", archive.dataPath.generic_string(), entry->archiveSize,
                                     listing.AsArchiveFile(z->storage)->archiveSize, 50),
                             kDump + "Failed to read data from \"" + archive.dataPath.generic_string() + "\" to log the failed data.",
                             kInfo + "Failed to read the archive metadata from \"" + archive.indexPath.generic_string() + "\"!"}))
        << log.Dump();
}

TEST(ListingTeardown, ReportsEachFileStillOpenOnceAndClosesEveryHandle)
{
    TarnTest::ScopedCalls calls;
    LogCapture log;
    ProjectRelease release("P", 1);
    release.Add("a.bin", "aaaa", Storage::Archived, Compression::Stored)
        .Add("b.bin", "bbbb", Storage::Archived, Compression::Zlib)
        .Add("n.txt", "naked", Storage::Naked)
        .Add("m.txt", "managed", Storage::Managed);
    const std::string notClosed = "Tarn::VELL::Reader::ProjectListing::FileInfo::Reset: The file was not closed before shutdown.";

    for (const char* leftOpen : {"n.txt", "b.bin"}) {
        SCOPED_TRACE(leftOpen);
        log.Clear();
        Content content(release);
        ProjectListing& listing = content.Build();
        ASSERT_TRUE(listing.Open(content.File(leftOpen)));
        EXPECT_EQ(ReadWhole(listing, "m.txt") + ReadWhole(listing, "a.bin"), "managedaaaa");
        CountCalls();
        content.listing.reset();
        EXPECT_EQ(log.Count(notClosed), 1u) << log.Dump();
        EXPECT_TRUE(LoggedError(log, notClosed));
        // The one data file, and the naked file when it is the one left open.
        EXPECT_EQ(gCloses.load(), std::string(leftOpen) == "n.txt" ? 2 : 1);
    }
}
