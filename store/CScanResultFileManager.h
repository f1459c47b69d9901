// The result store of one engine's scan. Found files and folders are spooled
// to a node file of fixed 344-byte records (index i at byte (i - 1) * 344),
// the folder-to-children relation is kept in memory and written as text to
// "<name>_Relation", folder names go to "<name>_DirInfo". Queries read the
// records back by index, so a scan of any size stays out of memory.
//
// The files live in the scan-log folder that CLogFileManager hands out. One
// thread at a time; no locking.
//
// A record whose uFileIndex is 0 was never written (engines store every
// record's own index in it): the queries and the search pass over it.
//
// Statuses: 0 success, 87 invalid argument or record not found, 8 lack of
// memory, 30 a record read that came up short, otherwise the error number of
// the failed system call (exceptions noted per operation).
#pragma once

#include "core/FileNode.h"
#include "store/DirFileInfo.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class CScanResultFileManager
{
  public:
    // Records per write block, and the block's size in bytes.
    static constexpr int RECORDS_PER_BLOCK = 200;
    static constexpr int BUFFER_SIZE = RECORDS_PER_BLOCK * static_cast<int>(FILE_NODE_SIZE); // 68800
    // Node files larger than this are too big for the "*.other" listing.
    static constexpr unsigned long long OTHER_FILES_SIZE_LIMIT = 0x7FFFFFF;

    CScanResultFileManager();
    // Flushes what is waiting; the files stay on disk.
    ~CScanResultFileManager();
    CScanResultFileManager(const CScanResultFileManager&) = delete;
    CScanResultFileManager& operator=(const CScanResultFileManager&) = delete;

    // Opens (creating when absent) the node, relation and folder-name files
    // called name in the current scan-log folder and loads an existing
    // relation and folder-name file (damaged text loads what is sound).
    // name is a plain file name: 87 when it is null, empty, "." or "..",
    // holds '/', or is longer than 255 bytes. Returns 0, 8 when the write
    // buffer cannot be had, or the error number of a failed open, folder
    // creation or size query. A second Init starts over with the new files.
    // Records created after reopening an earlier store follow the records
    // already in its node file (GetFileIndex starts at their number), so the
    // loaded relations keep naming the records they named.
    unsigned int Init(const wchar_t* name);
    // A new store for an engine's scan: named CLogFileManager::MakeStoreName
    // (prefix, startSector) in the current scan-log folder. A store of that
    // name already there is an earlier scan of the volume within the same
    // minute; its records would be read back in place of the new ones, so
    // its files are removed first.
    unsigned int InitNew(const char* prefix, unsigned long long startSector);
    // Init on name when it names a store (a saved scan reopened), InitNew
    // otherwise.
    unsigned int InitNamedOrNew(const wchar_t* name, const char* prefix, unsigned long long startSector);

    // The slot of the next record, cleared to 0, in the write buffer; valid
    // until the next CreateFileNode or flush. Takes the next index (see
    // GetFileIndex). size must be sizeof(_FILE_NODE_) (344). Returns null,
    // and takes no index, when size is anything else or when the store is
    // not open (Init failed or was not called): engines must check it.
    // A full buffer is written first, at its records' own offset; a failed
    // write leaves those records as a hole and is reported by the next
    // FlushBufToFile / FlushFileNodeToFile.
    _FILE_NODE_* CreateFileNode(int size);

    // Index of the record handed out by the last CreateFileNode (1 for the
    // first record of a new store): the number of records in the store.
    unsigned int GetFileIndex() const { return m_nFileIndex; }

    // Files childIndex under the folder key (parentLevel << 32) | parentCluster,
    // after the children already there. When dirName is not null the child
    // is a folder whose name (UTF-8, cut to 255 bytes) is remembered with
    // childCluster. Returns 0, or 8 when memory runs out.
    unsigned int AddChildren(unsigned int parentCluster, unsigned int parentLevel, unsigned int childIndex,
                             unsigned int childCluster, const char* dirName);

    // Writes the waiting records, then rewrites the relation file and the
    // folder-name file. Returns the first error: a record block lost since
    // the last flush comes first (its records are missing from the node file
    // and the caller should say so), then the relation, then the names.
    unsigned int FlushBufToFile();
    // The three steps on their own.
    unsigned int FlushFileNodeToFile();
    unsigned int FlushRelationToFile();
    unsigned int FlushDirFileInfoVec();

    // Appends the direct children of folder key (key 0: the folder with the
    // smallest key, i.e. the top of the tree) and sorts the whole vector:
    // files before folders, then by name ignoring ASCII case. Damaged
    // pictures (bDataHealth 0) are left out. A failed record read stops with
    // its status, keeping what was read.
    unsigned int GetChildrenFileNode(unsigned long long key, std::vector<_FILE_NODE_>& children);

    // count = number of non-folder records anywhere below folder key (key 0
    // as above), damaged pictures included. Each folder key is counted once,
    // so damaged relations cannot loop. Returns the last read error, or 0.
    unsigned int GetChildrenFileCount(unsigned long long key, unsigned int& count);

    // Appends the ancestors of node, nearest first, up to (not including) the
    // top level. Ends on any cycle. 87 for a null node or when a parent
    // folder is in neither the folder names nor the node file; the error
    // number of a failed read of the node file.
    unsigned int GetParentFileNode(const _FILE_NODE_* node, std::vector<_FILE_NODE_>& parents);

    // Writes into path (pathLen wide units, NUL included) the folder path of
    // node: "Photos/2019/" for a file in the folder 2019 inside the top-level
    // folder Photos, "" for a top-level file. Returns the status of the text
    // conversion (0, or 0xFFFFFFFF when it failed), 87 for a null argument.
    unsigned int GetParentDirPath(const _FILE_NODE_* node, wchar_t* path, int pathLen);

    // Scans the node file for a folder record whose uClusterNO is cluster and
    // copies it to node: 0 when found. 87 when there is none (node then holds
    // the last non-folder record with that cluster, if any), or the error
    // number of a failed open.
    unsigned int GetFileNodeByClusterNO(unsigned int cluster, _FILE_NODE_* node);

    // Search progress callback: (param, percent, null); non-zero stops the
    // search. May be null. Returns 0.
    unsigned int InitSearchCallBack(SEARCH_CALLBACK search, void* param);

    // Appends every file record of the kinds named by typeKey ("*.ext"
    // patterns separated by '|', matched as substrings; "*.other" adds files
    // of no known kind unless the node file is larger than
    // OTHER_FILES_SIZE_LIMIT) and sorts the whole vector as
    // GetChildrenFileNode does. Flushes first. Damaged pictures are left out.
    // Returns 1 after a completed or stopped search, 0 when the node file
    // cannot be opened.
    int SearchFileNodeInfo(const wchar_t* typeKey, std::vector<__SEARCH_FILE_INFO__>& hits);

    // The tree queries of the engine interface, answered from an engine's
    // store (null while the engine has none: nothing to list) the way every
    // engine answers them: the records are flushed first; a null folder is
    // the root, whose number is rootFolder, and is asked only at level 0
    // (87 otherwise); a folder's key is (level << 32) | its uClusterNO.
    static unsigned int ChildrenOf(CScanResultFileManager* store, const _FILE_NODE_* dir, unsigned int level,
                                   uint32_t rootFolder, std::vector<_FILE_NODE_>& children);
    static unsigned int ChildCountOf(CScanResultFileManager* store, const _FILE_NODE_* dir,
                                     unsigned int level, uint32_t rootFolder, unsigned int& count);
    // GetParentDirPath of the store; an empty path without one.
    static unsigned int ParentPathOf(CScanResultFileManager* store, const _FILE_NODE_* node, wchar_t* path,
                                     int pathLen);
    // SearchFileNodeInfo of the store, 0 and no hits without one.
    static unsigned int SearchIn(CScanResultFileManager* store, wchar_t* typeKey,
                                 std::vector<__SEARCH_FILE_INFO__>& hits);

    // True when folder key (level << 32) | cluster has children filed.
    bool IsDirFileNodeExist(long long cluster, unsigned int level) const;

    // Path of the node file (empty before Init).
    const std::string& GetFileNodePath() const { return m_strFileNodePath; }

  private:
    typedef std::map<unsigned long long, std::vector<uint32_t>> RelationMap;

    void CloseAll();
    void ParseRelationText(const char* text, size_t len);
    void LoadDirInfo(const uint8_t* data, size_t len);
    unsigned int WriteBlock(const void* data, size_t len, unsigned long long offset);
    // Writes the waiting records at their own offset; returns that write's status.
    unsigned int FlushFileNodeToFileQuiet();
    // The list for a query key (key 0: the smallest key); null when none.
    const RelationMap::value_type* SelectEntry(unsigned long long key) const;
    // Reads the records of indices in order and hands each to visit
    // (return false to stop). Indices that name no record are passed over.
    template <typename Visit> unsigned int ReadRecords(const std::vector<uint32_t>& indices, Visit visit);
    // Visits every whole record of the node file on fd front to back, a block
    // at a time: visit(record, index) with holes skipped and names
    // terminated, returning false to stop; after each block
    // progress(bytesRead) returning false stops too. Returns the status of
    // the read that ended the walk (0 when stopped, 30 at the file's end).
    template <typename Visit, typename Progress>
    unsigned int SweepNodeFile(int fd, Visit visit, Progress progress);
    // A descriptor of the node file this store holds open (closed by the
    // caller), -1 when none.
    int DupNodeFile() const;
    // Builds the child-index -> first (smallest) folder key lookup.
    void BuildParentIndex();
    // Key of the first entry whose list holds index; false when none.
    bool FindParentKey(uint32_t index, unsigned long long& key);
    // The folder record GetFileNodeByClusterNO would find, through a
    // cluster lookup of the node file's folders built by one pass over it:
    // without folder names every step of every folder path would otherwise
    // read the whole node file. 87 when there is none.
    unsigned int FindFolderByCluster(uint32_t cluster, _FILE_NODE_& node);

    int m_nBufLen;
    int m_nBufSize;
    unsigned int m_nFileIndex;
    _FILE_NODE_* m_pBuf;
    int m_hFileNode;
    int m_hRelation;
    int m_hDirInfo;
    SEARCH_CALLBACK m_pSearchFunc;
    void* m_pSearchParam;
    std::string m_strFileNodePath;
    std::string m_strRelationPath;
    std::string m_strDirInfoPath;
    RelationMap m_dirRelationMap;
    std::vector<_DIR_FILE_INFO_> m_dirFileInfoVec;
    std::string m_strKnownExtList;

    // Index of the first record waiting in the buffer.
    unsigned int m_nBufFirstIndex;
    // A record block that could not be written since the last node flush.
    unsigned int m_nLostWriteStatus;
    // Nothing changed since the relation file was last written whole.
    bool m_bRelationClean;
    // Folder-name records already on disk as they are in the list.
    size_t m_nDirInfoWritten;
    // Last folder AddChildren filed into: engines file runs of siblings.
    unsigned long long m_nLastKey;
    std::vector<uint32_t>* m_pLastList;
    // First folder-name record of each cluster.
    std::unordered_map<uint32_t, size_t> m_dirInfoByCluster;
    // (child index, first folder key holding it), by index; rebuilt on demand.
    std::vector<std::pair<uint32_t, unsigned long long>> m_parentIndex;
    bool m_bParentIndexValid;
    // (cluster, index) of every folder record of the node file, the first
    // record of each cluster only, by cluster; built for m_nFolderIndexRecords
    // records and dropped whenever records are written.
    std::vector<std::pair<uint32_t, uint32_t>> m_folderIndex;
    unsigned long long m_nFolderIndexRecords;
    bool m_bFolderIndexValid;
    // Read block of the queries and the search, allocated once by Init.
    std::vector<_FILE_NODE_> m_readBlock;
};
