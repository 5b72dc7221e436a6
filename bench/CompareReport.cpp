// vell_compare's report: the table of medians, the ratios, the targets and every wrong answer.
#include <physfs.h>
#include <unistd.h>
#include <zip.h>

#include <cinttypes>
#include <cstdio>

#include "bench/Comparison.h"

namespace TarnCompare {

namespace {

std::string Format(double value)
{
    char text[32];
    if (value >= 1000) std::snprintf(text, sizeof text, "%.0f", value);
    else if (value >= 100) std::snprintf(text, sizeof text, "%.1f", value);
    else if (value >= 1) std::snprintf(text, sizeof text, "%.2f", value);
    else if (value >= 0.01) std::snprintf(text, sizeof text, "%.3f", value);
    else std::snprintf(text, sizeof text, "%.1e", value);
    return text;
}

std::string CellText(const Cell& cell)
{
    if (cell.wrong) return "WRONG";
    if (!cell.supported) return cell.note.empty() ? "-" : cell.note;
    return Format(cell.Median());
}

bool Usable(const Cell& cell) { return cell.supported && !cell.wrong && cell.Median() > 0; }

// The median over the rounds of each round's ratio: the backends of one round ran side by
// side, so drift of the machine between rounds cancels in the ratio.
double Ratio(const Cell& vell, const Cell& other)
{
    if (vell.values.size() != other.values.size()) return vell.Median() / other.Median();
    std::vector<double> ratios;
    for (std::size_t r = 0; r < vell.values.size(); ++r) ratios.push_back(vell.values[r] / other.values[r]);
    return Cell::MedianOf(ratios);
}

std::string RatioText(const Cell& vell, const Cell& other)
{
    if (!Usable(vell) || !Usable(other)) return "-";
    return Format(Ratio(vell, other));
}

struct Target {
    RowId row;
    Column against;
    RowId againstRow;  // the row of the cell compared with (usually the same row)
    bool atMost;       // the ratio must be at most (or else at least) the bound
    double bound;
    const char* text;
};

const Target kTargets[] = {
    {kInit, kLibzip, kInit, true, 0.5, "initialise <= 0.5 x libzip's zip_open"},
    {kExistsHit, kLimit, kExistsHit, true, 1.0, "exists (hit) <= 1.0 x the hash map"},
    {kExistsHit, kLibzip, kExistsHit, true, 1.0, "exists (hit) below libzip"},
    {kExistsMiss, kLimit, kExistsMiss, true, 1.0, "exists (miss) <= 1.0 x the hash map"},
    {kExistsMiss, kVell, kExistsHit, true, 1.0, "exists: a miss no dearer than a hit"},
    {kExistsWrongCase, kLimit, kExistsHit, true, 1.0, "exists (wrong letter case) <= 1.0 x the hash map (hit)"},
    {kExistsWrongCase, kVell, kExistsHit, true, 1.0, "exists: wrong letter case no dearer than a hit"},
    {kSmallZlib, kLimit, kSmallZlib, false, 0.95, "small zlib files >= 0.95 x zlib uncompress throughput"},
    {kSmallLzma, kLimit, kSmallLzma, false, 0.95, "small LZMA2 files >= 0.95 x liblzma throughput"},
    {kRandomReads, kLimit, kRandomReads, true, 1.1, "random 4 KiB reads at memcpy speed (within 10%)"},
    {kEnumerate, kLibzip, kEnumerate, true, 0.2, "enumeration >= 5 x faster than libzip's name scan"},
    {kMemoryPeak, kPhysfs, kMemoryPeak, true, 1.0, "memory peak during mount <= PhysicsFS's"},
    {kMemoryPeak, kLibzip, kMemoryPeak, true, 0.6, "memory peak during mount <= 0.6 x libzip's"},
    {kMemory, kPhysfs, kMemory, true, 0.8, "memory resident after mount <= 0.8 x PhysicsFS's"},
};

}  // namespace

void Comparison::Print() const
{
    const FileTruth& randomFile = mSet.files[mSet.randomReadFile];
    std::uintmax_t vellBytes = 0;
    for (const auto& item : fs::recursive_directory_iterator(mSet.directory / "vell"))
        if (item.is_regular_file()) vellBytes += item.file_size();
    std::printf("\nTarnVellIO beside PhysicsFS %d.%d.%d and libzip %s\n", PHYSFS_VER_MAJOR, PHYSFS_VER_MINOR, PHYSFS_VER_PATCH,
                zip_libzip_version());
    std::printf("content: %zu files, %.1f MB (%zu small: %s; zlib %zu, LZMA2 %zu, stored %zu); random reads in %s (%u bytes)\n",
                mSet.files.size(), mSet.contentBytes / 1e6,
                mSmallByCodec[0].size() + mSmallByCodec[1].size() + mSmallByCodec[2].size(),
                mSet.parameters.tiny ? "64 B-1 KiB, three levels deep" : "4-64 KiB, two levels deep",
                mSmallByCodec[static_cast<int>(Codec::Zlib)].size(), mSmallByCodec[static_cast<int>(Codec::Lzma)].size(),
                mSmallByCodec[static_cast<int>(Codec::Stored)].size(), randomFile.path.c_str(), randomFile.size);
    std::printf("on disk: release %.1f MB, zip %.1f MB (deflate level 6; the release's stored files are stored in the zip too)\n",
                vellBytes / 1e6, fs::file_size(mSet.zipPath) / 1e6);
    std::printf("medians of %d rounds; load average at the start %s, at the end %s; %d cores\n", mOptions.rounds,
                mLoadAtStart.c_str(), LoadAverage().c_str(), static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    std::printf("times: CPU time of the measuring thread (wall-clock medians follow the targets)\n");
#ifndef NDEBUG
    std::printf("note: built without NDEBUG; measure a Release build\n");
#endif
    std::printf("\n%-40s %-10s", "measurement", "unit");
    for (const char* name : kColumnNames) std::printf(" %11s", name);
    std::printf(" %9s %9s %9s %9s %8s\n", "V/PhysFS", "V/libzip", "V/limit", "V/pread", "V spread");
    for (const Row& row : mRows) {
        std::printf("%-40s %-10s", row.label.c_str(), row.unit.c_str());
        for (const Cell& cell : row.cells) std::printf(" %11s", CellText(cell).c_str());
        const Cell& vell = row.cells[kVell];
        std::printf(" %9s %9s %9s %9s %7.0f%%\n", RatioText(vell, row.cells[kPhysfs]).c_str(),
                    RatioText(vell, row.cells[kLibzip]).c_str(), RatioText(vell, row.cells[kLimit]).c_str(),
                    RatioText(vell, row.cells[kPread]).c_str(), vell.Spread() * 100);
    }
    std::printf("\nV/x: the median over the rounds of TarnVellIO's value divided by x's in the same round (for MB/s\n"
                "higher is better, for the other units lower). V spread: (max - min) / median of TarnVellIO's rounds.\n");
    std::printf("limits:\n");
    for (const Row& row : mRows) {
        if (!row.limit.empty()) std::printf("  %-40s limit: %s\n", row.label.c_str(), row.limit.c_str());
        if (!row.pread.empty()) std::printf("  %-40s pread: %s\n", row.label.c_str(), row.pread.c_str());
    }
    std::printf("notes:\n");
    std::printf("  PhysicsFS cannot ignore letter case: its wrong-case row is not supported (n/s).\n");
    std::printf("  libzip's wrong-case row is zip_name_locate with ZIP_FL_NOCASE; its random reads: %s.\n",
                mRows[kRandomReads].cells[kLibzip].note.c_str());
    std::printf("  The zip holds the release's LZMA2 files as deflate, so the peers decode deflate in that row.\n");
    std::printf("  Memory: a fresh process per mount; peak: its highest resident set during the mount (VmHWM,\n"
                "  reset first through /proc/self/clear_refs where allowed) less the resident set before it;\n"
                "  after: the resident set after the mount less the one before (/proc/self/status).\n");
    std::printf("\nper file (%zu files):\n", mSet.files.size());
    const double files = static_cast<double>(mSet.files.size());
    for (int c = 0; c < kColumns; ++c) {
        const Cell &init = mRows[kInit].cells[c], &peak = mRows[kMemoryPeak].cells[c], &kept = mRows[kMemory].cells[c];
        if (!Usable(peak) && !Usable(init)) continue;
        std::printf("  %-11s", kColumnNames[c]);
        if (Usable(init)) std::printf("  mount %.3f us", init.Median() * 1e3 / files);
        if (Usable(peak)) std::printf("  memory peak %.1f bytes", peak.Median() * 1048576.0 / files);
        if (Usable(kept)) std::printf("  after %.1f bytes", kept.Median() * 1048576.0 / files);
        std::printf("\n");
    }

    std::printf("\ntargets:\n");
    for (const Target& target : kTargets) {
        const Cell& vell = mRows[target.row].cells[kVell];
        const Cell& other = mRows[target.againstRow].cells[target.against];
        if (!Usable(vell) || !Usable(other)) {
            std::printf("  %-66s ratio -      NOT MEASURED\n", target.text);
            continue;
        }
        const double ratio = Ratio(vell, other);
        const bool met = target.atMost ? ratio <= target.bound : ratio >= target.bound;
        std::printf("  %-66s ratio %-6s %s (needs %s %s)\n", target.text, Format(ratio).c_str(), met ? "MET   " : "MISSED",
                    target.atMost ? "<=" : ">=", Format(target.bound).c_str());
    }

    std::printf("\nwall-clock medians (include time other processes held the core):\n%-40s %-10s", "measurement", "unit");
    for (const char* name : kColumnNames) std::printf(" %11s", name);
    std::printf("\n");
    for (const Row& row : mRows) {
        if (&row == &mRows[kMemory] || &row == &mRows[kMemoryPeak]) continue;
        std::printf("%-40s %-10s", row.label.c_str(), row.unit.c_str());
        for (const Cell& cell : row.cells)
            std::printf(" %11s", cell.supported && !cell.wrong ? Format(cell.WallMedian()).c_str() : CellText(cell).c_str());
        std::printf("\n");
    }

    if (mOptions.verbose) {
        std::printf("\nevery round (CPU time):\n");
        for (const Row& row : mRows)
            for (int c = 0; c < kColumns; ++c) {
                if (row.cells[c].values.empty()) continue;
                std::printf("  %-40s %-11s", row.label.c_str(), kColumnNames[c]);
                for (double value : row.cells[c].values) std::printf(" %10s", Format(value).c_str());
                std::printf("\n");
            }
    }

    std::uint64_t answers = 0, wrong = 0;
    for (const Row& row : mRows)
        for (const Cell& cell : row.cells) answers += cell.answers, wrong += cell.wrong;
    std::printf("\nanswers checked: %" PRIu64 ", wrong: %" PRIu64 "\n", answers, wrong);
    for (const Row& row : mRows)
        for (int c = 0; c < kColumns; ++c)
            if (row.cells[c].wrong)
                std::printf("  WRONG: %s, %s: %" PRIu64 " of %" PRIu64 "\n", row.label.c_str(), kColumnNames[c],
                            row.cells[c].wrong, row.cells[c].answers);
}

bool Comparison::AllCorrect() const
{
    for (const Row& row : mRows)
        for (const Cell& cell : row.cells)
            if (cell.wrong) return false;
    return true;
}

}  // namespace TarnCompare
