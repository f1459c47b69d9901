// libFuzzer target: a scan-result store and the scan index reopened from
// hostile files, the way a later run finds them in the scan-log folder.
//
// Input: byte 0 is a set of flags; bytes 1-12 are three little-endian 32-bit
// lengths, each cut to what remains, of the node file (344-byte records), the
// "_Relation" text and the "_DirInfo" records, which follow in that order;
// the rest is the scan index ("config": an 8-byte folder index and 592-byte
// records), absent when empty. A record's folder path that begins with '@'
// stands for the scan-log root followed by the rest (the root is a fresh
// temporary folder, so seeds could not name it otherwise). Flags:
//   bit 0  the index is left as "config.tmp", as an interrupted save leaves it
//   bit 1  new records are added to the reopened store, which is then flushed
//          and reopened again: the relations must read back the same
//   bit 2  folder paths are asked into a buffer of 5 units, not 1024
//
// The index is loaded and its first record looked up as a resumed deep scan
// does; the store files are written into the folder the index manager then
// hands out, found by name prefix, and opened by name (an engine's
// ScanDevice(name)). Every query runs: children and counts of the top folder,
// of the folder keys in the relation text and of the top's sub-folders,
// folder paths of the first record indices, the search over every kind and
// "*.other", the flush. Then the deletions the index drives: lookups of its
// records by path and by volume with changed values, DeleteLogFileDir of
// every record's folder, a fresh folder index, a save and a reload.
//
// Checks that nothing outside the temporary support folder, and nothing in
// it but the numbered scan-log folders, is ever deleted or created (canary
// files beside the support folder, in it and in a folder "01" of the
// scan-log root, which is not a numbered folder), that the folder handed out
// is a numbered folder of the root, that answers name real records, and that
// relations and the index read back as they were written.
#include "core/ByteReader.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "store/CLogFileManager.h"
#include "store/CScanResultFileManager.h"
#include "store/FileTypeLists.h"
#include "tests/fuzz/FuzzDisk.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace
{
const char STORE_NAME[] = "Fast_2048_2024614 9";
// Keys and records queried: enough to reach every structure of a store that
// fits a fuzz input, few enough to keep an input fast.
constexpr size_t MAX_KEYS = 8;
constexpr uint32_t MAX_PATH_INDICES = 64;
constexpr size_t MAX_INDEX_RECORDS = 8;

void WriteFile(const std::string& path, const uint8_t* data, size_t len)
{
    if (!tessaroo::test::WriteFileText(path, std::string(reinterpret_cast<const char*>(data), len)))
        fuzz::Fail(("cannot write " + path).c_str());
}

// The scan-log root, which lies in the support folder; canaries beside the
// support folder (which holds it and the destination, nothing else) and in it.
const std::string& Root()
{
    static std::string root;
    if (!root.empty())
        return root;
    const fuzz::Scratch& s = fuzz::GetScratch();
    root = tessaroo::GetScanLogRoot();
    if (!fuzz::Below(root, s.support) || !tessaroo::test::WriteFileText(s.inner + "/canary", "x") ||
        !tessaroo::test::WriteFileText(s.support + "/canary", "x"))
        fuzz::Fail("scan-log root outside the support folder, or no canaries");
    return root;
}

void CheckCanaries()
{
    const fuzz::Scratch& s = fuzz::GetScratch();
    for (const std::string& canary : {s.inner + "/canary", s.support + "/canary", Root() + "01/canary"})
        if (!tessaroo::test::PathExists(canary))
            fuzz::Fail("a canary was deleted");
    if (tessaroo::test::ListFolder(s.inner).size() != 3)
        fuzz::Fail("something was created beside the support folder");
}

// The index with every folder path of the form "@rest" made root + "rest".
std::vector<uint8_t> PlaceRoot(const uint8_t* data, size_t len, const std::string& root)
{
    constexpr size_t HEADER = 8, RECORD = 592, LOG_DIR = 336, FIELD = 256;
    std::vector<uint8_t> out(data, data + len);
    for (size_t off = HEADER; off <= len && len - off >= RECORD; off += RECORD)
    {
        char* field = reinterpret_cast<char*>(&out[off + LOG_DIR]);
        if (field[0] != '@')
            continue;
        std::string path = root + std::string(field + 1, strnlen(field + 1, FIELD - 1));
        path.resize(std::min(path.size(), FIELD - 1));
        memset(field, 0, FIELD);
        memcpy(field, path.data(), path.size());
    }
    return out;
}

// Folder keys as the relation text names them: the digits after each " | ".
std::vector<unsigned long long> KeysOf(const uint8_t* text, size_t len)
{
    std::vector<unsigned long long> keys;
    const std::string s(reinterpret_cast<const char*>(text), len);
    for (size_t p = s.find(" | "); p != std::string::npos && keys.size() < MAX_KEYS; p = s.find(" | ", p + 3))
        keys.push_back(strtoull(s.c_str() + p + 3, nullptr, 10));
    return keys;
}

// A damaged relation may name one record many times, so only the search,
// which reads each record once, is bounded by the record count.
void CheckRecords(const std::vector<_FILE_NODE_>& nodes, size_t from, bool filesOnly)
{
    for (size_t i = from; i < nodes.size(); ++i)
    {
        const _FILE_NODE_& n = nodes[i];
        if (n.uFileIndex == 0 || strnlen(n.szFileName, FILE_NAME_SIZE) == FILE_NAME_SIZE)
            fuzz::Fail("a hole or an unterminated name was handed out");
        if (filesOnly && n.bIsDir)
            fuzz::Fail("the search listed a folder");
    }
}

void QueryStore(CScanResultFileManager& store, const std::vector<unsigned long long>& textKeys,
                uint64_t records, int pathLen)
{
    std::vector<unsigned long long> keys = textKeys;
    keys.insert(keys.begin(), 0ULL);
    std::vector<_FILE_NODE_> top;
    store.GetChildrenFileNode(0, top);
    CheckRecords(top, 0, false);
    for (const _FILE_NODE_& n : top)
        if (n.bIsDir && keys.size() < 2 * MAX_KEYS)
            keys.push_back((1ULL << 32) | n.uClusterNO);

    std::vector<_FILE_NODE_> all;
    std::vector<wchar_t> path(size_t(pathLen) + 1, L'\x7F');
    for (unsigned long long key : keys)
    {
        const size_t from = all.size();
        store.GetChildrenFileNode(key, all);
        CheckRecords(all, from, false);
        unsigned int count = 0;
        store.GetChildrenFileCount(key, count);
    }
    // The nodes handed out, then the first record indices as they stand.
    for (uint32_t i = 0; i <= std::min<uint64_t>(records + 1, MAX_PATH_INDICES); ++i)
    {
        all.push_back(_FILE_NODE_());
        all.back().uFileIndex = i;
    }
    for (const _FILE_NODE_& n : all)
    {
        store.GetParentDirPath(&n, path.data(), pathLen);
        if (path[size_t(pathLen)] != L'\x7F')
            fuzz::Fail("folder path written past its buffer");
    }

    const std::string kinds = std::string(tessaroo::PICTURE_TYPE_LIST) + "|" + tessaroo::MUSIC_TYPE_LIST +
                              "|" + tessaroo::OFFICE_TYPE_LIST + "|" + tessaroo::VIDEO_TYPE_LIST + "|" +
                              tessaroo::ARCHIVE_TYPE_LIST + "|" + tessaroo::OTHER_TYPE_MARKER;
    std::vector<__SEARCH_FILE_INFO__> hits;
    if (store.SearchFileNodeInfo(tessaroo::Utf8ToWide(kinds.c_str()).c_str(), hits) != 1)
        fuzz::Fail("search of an open store failed");
    CheckRecords(hits, 0, true);
    if (hits.size() > records)
        fuzz::Fail("more hits than records");
    store.FlushBufToFile();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 13)
        return 0;
    const std::string& root = Root();
    const uint8_t flags = data[0];
    size_t lens[3];
    size_t at = 13;
    for (int i = 0; i < 3; ++i)
    {
        lens[i] = std::min<size_t>(tessaroo::ByteReader(data, size).U32(1 + 4 * size_t(i)), size - at);
        at += lens[i];
    }
    const uint8_t* nodeBytes = data + 13;
    const uint8_t* relationBytes = nodeBytes + lens[0];
    const uint8_t* dirInfoBytes = relationBytes + lens[1];
    const uint8_t* configBytes = dirInfoBytes + lens[2];
    const size_t configLen = size - at;

    // A fresh scan-log root holding only the index and the canary folder.
    fuzz::RemoveBelow(root);
    if (!tessaroo::MakeDirs(root + "01") || !tessaroo::test::WriteFileText(root + "01/canary", "x"))
        fuzz::Fail("scan-log root");
    if (configLen)
    {
        const std::vector<uint8_t> config = PlaceRoot(configBytes, configLen, root);
        WriteFile(root + ((flags & 1) ? "config.tmp" : "config"), config.data(), config.size());
    }

    CLogFileManager* logs = CLogFileManager::GetInstance();
    logs->Init();
    const std::vector<_LOG_FILE_INFO_> index(
        logs->GetLogFileInfoVec().begin(),
        logs->GetLogFileInfoVec().begin() + std::min(logs->GetLogFileInfoVec().size(), MAX_INDEX_RECORDS));
    if (!index.empty())
        logs->LoadRecoveryLogInfo(nullptr, index[0].nDiskIndex, index[0].u64StartSector,
                                  index[0].u64SectorCount, nullptr);

    char dir[CLogFileManager::PATH_SIZE];
    if (logs->GetLogFileDirPath(dir) == 0)
    {
        // The folder every store of this scan writes into.
        const std::string d = dir, number = d.compare(0, root.size(), root) == 0 && d.back() == '/'
                                                ? d.substr(root.size(), d.size() - root.size() - 1)
                                                : std::string();
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
            (number.size() > 1 && number[0] == '0'))
            fuzz::Fail("the store folder is not a numbered folder of the scan-log root");
        if (!tessaroo::MakeDirs(d))
            fuzz::Fail("store folder");
        WriteFile(d + STORE_NAME, nodeBytes, lens[0]);
        WriteFile(d + STORE_NAME + "_Relation", relationBytes, lens[1]);
        WriteFile(d + STORE_NAME + "_DirInfo", dirInfoBytes, lens[2]);

        char name[CLogFileManager::PATH_SIZE] = {0};
        logs->GetLogFileNameByFileType(dir, "Fast", name);
        if (strcmp(name, STORE_NAME) != 0)
            fuzz::Fail("the store is not found by its prefix");
        const std::vector<unsigned long long> keys = KeysOf(relationBytes, lens[1]);
        const int pathLen = (flags & 4) ? 5 : 1024;
        {
            CScanResultFileManager store;
            const std::wstring wname = tessaroo::Utf8ToWide(name);
            if (store.Init(wname.c_str()) != 0)
                fuzz::Fail("an existing store does not open");
            const uint64_t records = lens[0] / FILE_NODE_SIZE;
            QueryStore(store, keys, records, pathLen);

            if (flags & 2)
            {
                // A resumed sweep files new records after the old ones.
                for (int i = 0; i < 2; ++i)
                {
                    _FILE_NODE_* slot = store.CreateFileNode(int(sizeof(_FILE_NODE_)));
                    if (!slot)
                        fuzz::Fail("no slot in an open store");
                    slot->uFileIndex = store.GetFileIndex();
                    slot->bIsDir = i;
                    slot->bDataHealth = 1;
                    slot->uClusterNO = 7 + uint32_t(i);
                    memcpy(slot->szFileName, i ? "new" : "new.jpg", i ? 4 : 8);
                    store.AddChildren(2, 0, slot->uFileIndex, slot->uClusterNO, i ? "new" : nullptr);
                }
                if (store.FlushBufToFile() != 0)
                    fuzz::Fail("flush into the scan-log folder failed");
                const auto top = [&store]
                {
                    unsigned int count = 0;
                    std::vector<_FILE_NODE_> nodes;
                    store.GetChildrenFileCount(0, count);
                    store.GetChildrenFileNode(0, nodes);
                    return std::make_pair(count, nodes.size());
                };
                const auto before = top();
                if (store.Init(wname.c_str()) != 0 || top() != before)
                    fuzz::Fail("the flushed store does not reopen, or its relations read back differently");
                std::error_code ec;
                QueryStore(store, keys,
                           std::filesystem::file_size(store.GetFileNodePath(), ec) / FILE_NODE_SIZE, pathLen);
            }
        }
    }

    // Deletions driven by the index's own paths.
    for (size_t i = 0; i < index.size(); ++i)
    {
        const _LOG_FILE_INFO_& r = index[i];
        _LOG_FILE_INFO_* found = nullptr;
        logs->GetFileInfo(r.szDevicePath, r.u64Reserved72 + (i & 1), &found);
        logs->GetFileInfo(r.nDiskIndex, r.u64StartSector, r.u64SectorCount, r.u64FreeSpace + (i & 1), &found);
        logs->DeleteLogFileDir(r.szLogDirPath);
    }
    logs->AddDirIndex();
    if (logs->GetLogFileDirPath(dir) == 0)
        logs->SaveLogFileInfo(nullptr, 0, 2048, 4096, 0, 0, 0, 0, 0, dir, nullptr);
    const size_t saved = logs->GetLogFileInfoVec().size();
    const unsigned long long savedIndex = logs->GetDirIndex();
    if (logs->Init() != 0 || logs->GetLogFileInfoVec().size() != saved || logs->GetDirIndex() != savedIndex)
        fuzz::Fail("the saved index reads back differently");
    CheckCanaries();
    return 0;
}
