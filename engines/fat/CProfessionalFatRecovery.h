// The deep FAT engine: rebuilds lost FAT volumes from directory sectors
// found anywhere on a device. The deep-scan coordinator sweeps the device
// and hands it every sector that looks like FAT directory data: the first
// sector of a subfolder (its "." and ".." entries) and any other sector of
// entries. There is no usable boot sector or FAT to walk, so the engine
// works out where clusters lie (a virtual boot sector: sectors per cluster
// and the start of the data area) from the folder starts it meets, lists
// every file entry (deleted or not) in the folder its sector belongs to,
// keeps the sectors it cannot place yet until a layout places them or the
// sweep ends, and then builds the folder tree. A file's data is taken to lie
// in consecutive clusters from its first one.
//
// Device positions are absolute 512-byte sectors; the volume is only ever
// read. Nodes carry uEngineType 3.
#pragma once

#include "core/CDiskReader.h"
#include "core/IFileRecoveryParse.h"
#include "recovery/CStoreEngine.h"
#include "recovery/EngineCopy.h"
#include "engines/fat/FatLayout.h"
#include "engines/signature/CFileTypeJudge.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CScanResultFileManager;

class CProfessionalFatRecovery : public CStoreEngine
{
  public:
    static constexpr const char* STORE_PREFIX = "Pro_Fat_";

    // What the engine holds in memory between the first sector of a sweep
    // and the end of it is bounded, so that a deep scan of a 64 GB card (or
    // of a device full of garbage that passes for directory data) stays
    // well under 256 MiB. Past a bound the newcomer is dropped and the drop
    // is logged; the sweep goes on.
    //  - parked sectors: copies of directory sectors no layout places yet,
    //    65536 of 512 bytes, about 36 MiB with their map;
    static constexpr size_t MAX_PARKED_SECTORS = 65536;
    //  - folder starts (a cluster, its parent and where its dot pair lies),
    //    about 15 MiB;
    static constexpr size_t MAX_FOLDER_STARTS = 262144;
    //  - folder entries (name, times, the folder holding the entry), at
    //    most about 48 MiB with names of 255 bytes;
    static constexpr size_t MAX_FOLDER_ENTRIES = 131072;
    //  - files written to the store whose folder is filed at the end, 8
    //    bytes each, 32 MiB;
    static constexpr size_t MAX_WAITING_FILES = size_t(4) << 20;
    //  - long names cut at the end of a sector, waiting for their rest
    //    (about 600 bytes each);
    static constexpr size_t MAX_PENDING_NAMES = 1024;
    //  - clusters whose folder was worked out once, for their other sectors;
    static constexpr size_t MAX_CLUSTER_OWNERS = 65536;
    //  - volume layouts: a disk holds a handful of FAT volumes, present and
    //    past; folders of layout i are numbered (i << 28) | cluster.
    static constexpr size_t MAX_GEOMETRIES = 16;
    // Unplaced folder starts a new one is paired with, most recent first.
    static constexpr size_t PAIRING_TRIES = 64;

    // One volume layout. Clusters are placed in 512-byte sectors: cluster
    // n (n >= 2) starts at partition + dataStart + (n - 2) * spc.
    struct __VIRTUAL_DBR_INFO__
    {
        int64_t spc = 0;          // 512-byte sectors per cluster
        int64_t dataStart = 0;    // first sector of cluster 2, from the partition start
        uint64_t partition = 0;   // the engine's own start sector
        int64_t rootSectors = 0;  // FAT12/16 fixed root area just below the data area
        uint32_t rootCluster = 0; // FAT32 root folder; 0 when there is none
        uint64_t endSector = 0;   // first absolute sector beyond the volume
        bool real = false;        // read from the volume's own boot sector
        bool clusters16 = false;  // FAT12/16: entries carry no high cluster word
        bool clusters32 = false;  // clusters above 65535 seen: a high word may be guessed

        int64_t Base() const { return int64_t(partition) + dataStart; }
        int64_t ClusterSector(uint32_t n) const { return Base() + (int64_t(n) - 2) * spc; }
    };

    // Drops the bounds cost, counted since ClearProfessionalVec.
    struct DropCounts
    {
        size_t parkedSectors = 0;
        size_t folderStarts = 0;
        size_t folderEntries = 0;
        size_t waitingFiles = 0;
        size_t pendingNames = 0;
        size_t geometries = 0;
        size_t unplacedAtEnd = 0; // parked sectors no layout could take
    };

    CProfessionalFatRecovery();
    ~CProfessionalFatRecovery() override;
    CProfessionalFatRecovery(const CProfessionalFatRecovery&) = delete;
    CProfessionalFatRecovery& operator=(const CProfessionalFatRecovery&) = delete;

    // Opens disk diskIndex read-only for the sweep of [startSector,
    // startSector + sectorCount). 0 when already open; 87 for a negative
    // range; else the reader's status.
    unsigned int Init(int diskIndex, long long startSector, long long sectorCount,
                      wchar_t driveLetter) override;
    // Opens the path read-only and takes its size; sets up no reader (a
    // device opened this way cannot be read).
    unsigned int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx, int scale) override;
    // The coordinator drives the scan: these do nothing and return 0.
    unsigned int ScanDevice(wchar_t* resultName) override;
    unsigned int BuildBitMapInfo() override;
    unsigned int GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count) override;

    // File node: copies its consecutive clusters into targetPath. Folder
    // node: creates targetPath and copies the tree below it. One report with
    // percent 100 per file, naming the file as it was kept: status 0, 30 for
    // a file kept incomplete, or the failure. Returns the status of the last
    // file, or -9527.
    unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators) override;
    // A picture is written whole to "tmp.<ext>" in the scan-log folder and
    // its path put into imagePath, which must hold 256 units; any other file
    // gives its first min(len, size) bytes in buf.
    unsigned int PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                         PREVIEW_CALLBACK progress, void* ctx) override;

    // Empties everything collected, the layouts included, and starts a new
    // store (storeName null or empty) or reopens the named store of the
    // current scan-log folder. 0, 8, or the store's status.
    unsigned int ClearProfessionalVec(wchar_t* storeName);
    // Takes the volume's own layout first when the boot sector at the start
    // of the swept range is intact. 0, or the status of the failed read.
    unsigned int InitVirtualDbrInfo();
    // A sector (512 bytes) that starts a subfolder with its "." and ".."
    // entries, at absolute sector absSector. 87 for a null sector, else 0.
    unsigned int ParseFatFileRecord(unsigned char* sector, unsigned long long absSector);
    // Any other sector (512 bytes) of directory entries. 87 for a null
    // sector, else 0.
    unsigned int ParseFDTFileRecord(unsigned char* sector, unsigned long long absSector);
    // After the sweep: places what waited for a layout and writes the
    // folders. Everything but the layouts is emptied. 0.
    unsigned int DealProfessionalRecordVec();

    // Copies one file, or for a folder node creates the folder and queues it.
    unsigned int SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath);

    // Read-only views for callers and tests.
    const std::vector<__VIRTUAL_DBR_INFO__>& GetVirtualDbrVec() const { return m_virtualDbrVec; }
    const DropCounts& GetDropCounts() const { return m_drops; }
    size_t GetParkedSectorCount() const { return m_unDealFileMap.size(); }
    CScanResultFileManager* GetScanResult() const { return m_pScanResult.get(); }

  private:
    // A folder: (layout << 28) | first cluster, the number it is filed
    // under in the store. All volumes' roots are one folder, ROOT_FOLDER.
    typedef uint32_t FolderId;
    static constexpr FolderId ROOT_FOLDER = 0xFFFFFFFF;
    static constexpr uint32_t CLUSTER_BITS = 28;
    static constexpr uint32_t CLUSTER_MASK = (1u << CLUSTER_BITS) - 1;

    // Where a folder's own dot pair says it hangs.
    struct FolderStart
    {
        uint32_t parent; // ".." cluster, 0 for the root
        uint64_t sector; // absolute sector of the dot pair
    };
    // A folder start that no layout places yet.
    struct UnplacedStart
    {
        uint32_t cluster;
        uint32_t parent;
        uint64_t sector;
    };
    // A folder as an entry of another folder names it.
    struct FolderEntry
    {
        FolderId container;
        uint64_t sector; // absolute sector of the short entry
        uint64_t times[3];
        bool deleted;
        std::string name;
    };
    struct WaitingFile
    {
        uint32_t index; // node index in the store
        FolderId folder;
    };
    // A long name cut at the end of a sector.
    struct PendingName
    {
        tessaroo::CFatLongName parts;
        int layout;
        FolderId folder;
        uint64_t sector; // the sector that ended with the cut run
    };
    // Which folder the sectors [first, end) belong to: the cluster last
    // placed, for the sectors of it that follow.
    struct Context
    {
        bool valid = false;
        int layout = -1;
        FolderId folder = ROOT_FOLDER;
        uint64_t first = 0;
        uint64_t end = 0;
    };
    // How a sector was placed: a weak placement (a cluster of a folder
    // nothing else is known about) waits for the end of the sweep, when
    // every layout is known.
    struct Placement
    {
        int layout = -1;
        FolderId folder = ROOT_FOLDER;
        bool strong = false;
        uint64_t first = 0, end = 0; // the cluster (or root area) holding the sector
    };

    static bool IsFolderCluster(uint64_t c) { return c >= 2 && c <= 0x0FFFFFF6; }
    static FolderId MakeFolderId(int layout, uint32_t cluster)
    {
        return (uint32_t(layout) << CLUSTER_BITS) | (cluster & CLUSTER_MASK);
    }
    static int LayoutOf(FolderId f) { return int(f >> CLUSTER_BITS); }
    static uint32_t ClusterOf(FolderId f) { return f & CLUSTER_MASK; }
    uint64_t DeviceEnd() const { return m_u64StartSector + m_u64SectorCount; }

    // Layouts.
    int FindLayoutPlacing(uint32_t cluster, uint64_t sector) const;
    int CalcVirtualDbr(uint32_t c1, uint64_t s1, uint32_t c2, uint64_t s2);
    int DeriveLayout(uint32_t cluster, uint64_t sector);
    // The layout a sector belongs to: the one whose data area (with its
    // root area below it) begins nearest below the sector. At the end of
    // the sweep a sector below every area goes to the nearest above.
    int BestLayout(uint64_t sector, bool final) const;
    FolderId ParentFolderFromDotDot(int layout, uint32_t self, uint32_t dotdot) const;

    // Sweep steps.
    void ParseFolderStart(const unsigned char* sector, uint64_t s, int layout);
    void ParseDirSector(const unsigned char* sector, uint64_t s, int layout, FolderId folder,
                        const tessaroo::CFatLongName* carried);
    bool PlaceSector(const unsigned char* sector, uint64_t s, bool final, Placement& out);
    // The placement under one layout; out.strong tells whether it rests on
    // more than the layout alone.
    void PlaceIn(int layout, const unsigned char* sector, uint64_t s, bool final, Placement& out);
    bool TakePending(const unsigned char* sector, uint64_t s, PendingName& out);
    bool IsWhereTheRestLies(const PendingName& p, uint64_t s) const;
    void SetContext(int layout, FolderId folder, uint64_t first, uint64_t end);
    void SetContextFor(int layout, FolderId folder, uint64_t s);
    void Park(const unsigned char* sector, uint64_t s);
    // A folder start, or a sector that carries on a cut long name or that a
    // layout places, parsed; false when it must wait (during the sweep) or
    // nothing can take it (at the end, final).
    bool ParsePlaced(const unsigned char* sector, uint64_t s, bool final);
    // Parses the parked sectors a new layout now places.
    void ResolveParked(int layout);
    void RecordFolderStart(int layout, uint32_t cluster, uint32_t parent, uint64_t sector);
    void RecordFolderEntry(int layout, FolderId container, const tessaroo::FatDirEntryView& v,
                           uint64_t entrySector);
    void AddFileNode(int layout, FolderId folder, const tessaroo::FatDirEntryView& v, uint64_t entrySector);

    // Device reads under a layout.
    bool ReadSector(uint64_t sector, unsigned char* buf);
    // The dot pair at the first sector of cluster under a layout: true with
    // the ".." cluster when "." names the cluster itself.
    bool ReadDotPair(int layout, uint32_t cluster, uint32_t& parent);
    uint32_t EntryCluster(int layout, const tessaroo::FatDirEntryView& v);
    // The high word of a deleted entry's first cluster: the first h for
    // which starts(first sector, its absolute sector, cluster) holds, else 0.
    uint32_t GuessHighWord(int layout, uint16_t low,
                           const std::function<bool(const unsigned char*, uint64_t, uint32_t)>& starts);
    int IsFileDataHealth(const _FILE_NODE_& node);

    // End of the sweep: the folder tree.
    FolderId ParentOf(FolderId f);
    void WriteTree();

    // File data.
    unsigned int CopyFileData(const _FILE_NODE_* node, uint64_t limit,
                              const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                              const std::function<int(int)>& progress, uint64_t& copied);
    unsigned int SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath);
    // This engine's reader of a file's data, for the shared copy and preview.
    tessaroo::FILE_DATA_READER DataReader();
    // Level below the root of the folder node (the level its children are filed at).
    int FolderLevel(const _FILE_NODE_& node);

    void Drop(size_t& counter, const char* what);
    void ClearSweepState();

    int m_hDevice;
    int m_nDiskIndex;
    unsigned long long m_u64StartSector;
    unsigned long long m_u64SectorCount;
    wchar_t m_wcDriveLetter;
    int m_nBytesPerSector;
    std::vector<__VIRTUAL_DBR_INFO__> m_virtualDbrVec;
    // Folder starts placed by a layout, by folder; and those none places yet.
    std::unordered_map<FolderId, FolderStart> m_fatSectorOffsetMap;
    std::vector<UnplacedStart> m_unplacedStartVec;
    std::deque<WaitingFile> m_waitingFileVec;
    std::deque<PendingName> m_longFileInfoVec;
    std::map<uint64_t, std::vector<unsigned char>> m_unDealFileMap;
    std::unordered_map<FolderId, FolderEntry> m_proDirInfoMap;
    // Clusters (as folder ids) of which one sector was placed strongly, and
    // the folder that sector went to.
    std::unordered_map<FolderId, FolderId> m_clusterOwnerMap;
    CDiskReader m_diskReader;
    std::unique_ptr<CScanResultFileManager> m_pScanResult;
    SCAN_CALLBACK m_pScanFunc;
    RECOVERY_CALLBACK m_pRecoveryFunc;
    void* m_pParam;
    int m_nScale;
    int m_nEngineType;
    int m_bHasRealDbr;
    Context m_fdtContext;
    CFileTypeJudge m_fileTypeJudge;
    unsigned int m_nRootClusterNO;
    // Long-name parts of the sector being walked.
    tessaroo::CFatLongName m_longName;
    DropCounts m_drops;

    CScanResultFileManager* ResultStore() const override { return m_pScanResult.get(); }
    uint32_t RootFolder() const override { return m_nRootClusterNO; }
};
