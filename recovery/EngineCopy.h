// The copy, folder copy and preview that every engine performs the same
// way; an engine supplies only how one file's data is read (a FAT chain,
// NTFS runs, consecutive clusters, a carved extent).
//
// A copy writes its target through CTargetFile (kept whole, or kept
// incomplete when the volume's data ran out, or removed), sets the times the
// volume recorded, and sends exactly one report with percent 100 naming the
// file as it was kept, with its status: so every file of a run has one
// result, a failure or a stop included.
#pragma once

#include "core/IFileRecoveryParse.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tessaroo
{
// Takes one piece of a file's data: 0, or the status that ends the copy.
typedef std::function<unsigned int(const unsigned char* data, size_t len)> DATA_SINK;
// Told the share of the file done so far (0 to 99): a non-zero answer ends
// the copy with that answer.
typedef std::function<int(int percent)> COPY_PROGRESS;
// An engine's reader of one file: hands the first limit bytes of node's
// data to sink piece by piece, asking progress after each piece but the
// last; copied counts what sink took. Returns 0, 30 when the data ran out
// before limit bytes, or the status that ended the copy.
typedef std::function<unsigned int(const _FILE_NODE_& node, uint64_t limit, const DATA_SINK& sink,
                                   const COPY_PROGRESS& progress, uint64_t& copied)>
    FILE_DATA_READER;

// Where a copy's reports go.
struct COPY_REPORTS
{
    RECOVERY_CALLBACK pfnRecovery = nullptr;
    void* pCtx = nullptr;
    const char* szEngine = ""; // names the engine in the log
};

// Copies one file node into targetPath. refusal, when not 0, is a status
// the engine already knows the copy ends with (a cluster too large to
// buffer): nothing is created, and the file gets its one failed report.
// accessTime and modifyTime are Unix seconds (0: left as the system sets
// them). Returns the file's status, or, for a file kept whole, the answer
// of its final report (a stop asked there takes effect after this file).
unsigned int SaveFileThroughTarget(const _FILE_NODE_* node, const wchar_t* targetPath,
                                   const FILE_DATA_READER& read, const COPY_REPORTS& reports,
                                   int64_t accessTime, int64_t modifyTime, unsigned int refusal = 0);

// Copies the folder node and everything below it, breadth first, each
// folder once (a damaged tree may loop): subfolders are made with
// MakeTargetFolder (a folder that cannot be made still has its files tried,
// each failing with its own report), files copied by saveFile. The folder
// asked for lies at level firstLevel below the root; its children are
// listed with engine.GetChildrenFileNode. A stop (-9527) from saveFile ends
// the whole copy. Returns the status of the last file, or -9527.
unsigned int SaveFolderThroughTarget(IFileRecoveryParse& engine, const _FILE_NODE_& folder,
                                     const wchar_t* targetPath, int firstLevel,
                                     const std::function<unsigned int(_FILE_NODE_*, wchar_t*)>& saveFile);

// A preview: a picture (its extension in the picture list) is written whole
// to "tmp.<ext>" in the scan-log folder and its path put into imagePath
// (room for 256 units); any other file gives its first min(len, size) bytes
// in buf and len says how many. progress gets the percent as the data is
// read and a last call (100, status). refusal as above.
unsigned int PreviewThroughTarget(const _FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                                  PREVIEW_CALLBACK progress, void* ctx, const FILE_DATA_READER& read,
                                  unsigned int refusal = 0);
} // namespace tessaroo
