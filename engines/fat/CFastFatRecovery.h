// The structural engine for a FAT12/16/32 volume whose boot sector and FAT
// are intact. The scan walks the folder tree breadth first from the root
// through the volume's own FAT, spools every deleted file (and every file
// inside a deleted folder), with the folders on the way to them, into a scan
// result store, and builds a bitmap of the clusters in use so that a deep
// sweep can keep to free space. File copy, folder copy and preview follow a
// file's cluster chain through the same FAT window.
//
// The volume is only ever read. Nodes carry uEngineType 1.
#pragma once

#include "core/CDiskReader.h"
#include "core/IFileRecoveryParse.h"
#include "recovery/CStoreEngine.h"
#include "engines/fat/CFatChainWalker.h"
#include "engines/fat/FatLayout.h"
#include "engines/signature/CFileTypeJudge.h"
#include "recovery/EngineCopy.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class CScanResultFileManager;

class CFastFatRecovery : public CStoreEngine
{
  public:
    CFastFatRecovery();
    ~CFastFatRecovery() override;
    CFastFatRecovery(const CFastFatRecovery&) = delete;
    CFastFatRecovery& operator=(const CFastFatRecovery&) = delete;

    // Opens disk diskIndex read-only and reads the volume's boot sector and
    // the start of its FAT. 0 when already open; the error number of a failed
    // open or read position; 30 when fewer than 4096 boot bytes arrive; 87
    // when the boot sector gives no usable geometry, a FAT32 root folder
    // outside the data area included (logged; the volume is unreadable);
    // else the reader's status.
    unsigned int Init(int diskIndex, long long startSector, long long sectorCount,
                      wchar_t driveLetter) override;
    // The boot sector to read at Init, in 512-byte units from the volume's
    // start: 0, or the FAT32 backup (sector 6) when the first is lost.
    void UseBootSectorAt(unsigned long long unit) { m_u64BootUnit = unit; }
    // Opens the path read-only and takes its size; reads no boot sector and
    // sets up no reader (a volume opened this way cannot be scanned).
    unsigned int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx, int scale) override;
    // resultName null: a new scan into a new store "Fast_<start>_<time>" in
    // the current scan-log folder. Otherwise reopens that earlier store.
    // Returns 0, the non-zero answer that stopped the scan, or 87 when Init
    // found no readable volume (then nothing is listed).
    unsigned int ScanDevice(wchar_t* resultName) override;
    // File node: copies its data into targetPath, which must not exist yet.
    // Folder node: creates targetPath and copies the tree below it breadth
    // first. One report with percent 100 per file: status 0 on success, the
    // failure's code otherwise. Returns the status of the last file, or -9527.
    unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators) override;
    unsigned int GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count) override;
    // 0 when the map was built, over the clusters that lie within the range
    // given to Init; 87 when that range holds no data area to map.
    unsigned int BuildBitMapInfo() override;
    // A picture is written whole to "tmp.<ext>" in the scan-log folder and
    // its path put into imagePath, which must hold 256 units; any other file
    // gives its first min(len, size) bytes in buf.
    unsigned int PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                         PREVIEW_CALLBACK progress, void* ctx) override;

    // Copies one file, or for a folder node creates the folder and queues it.
    unsigned int SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath);

    // Chain helpers. GetNextClusterNO gives the raw FAT entry (cluster + 1
    // without a FAT window); FindNextClusterNO the next cluster of a chain, 0
    // at its end (a free entry continues in a free neighbour).
    unsigned int GetNextClusterNO(unsigned int cluster, unsigned int& next);
    unsigned int FindNextClusterNO(unsigned int cluster, unsigned int& next);
    // High word of a deleted FAT32 entry whose high word was cleared: the
    // first candidate (h << 16) | low that starts with a folder's dot pair,
    // respectively a sector of the format the name's extension names; high
    // is left alone when none does. A read error ends the search and is
    // returned.
    unsigned int GetDirRealHighClusterNO(unsigned short low, unsigned short& high);
    unsigned int GetFileRealHighClusterNO(unsigned short low, unsigned short& high, const char* name);
    // 1 when the first data sector fits the extension, or cannot be judged.
    int IsFileDataHealth(_FILE_NODE_* node, unsigned int sectorsPerCluster);
    // Levels of a folder below the root, by its ".." entries. Levels found on
    // the way are cached for the scan.
    unsigned int GetRootParentDirIndex(unsigned int cluster, int& level, std::set<unsigned int>& visited);
    unsigned int _GetRootParentDirIndex(unsigned int cluster, int& level);
    // Walks one folder; cluster 0 is the FAT12/16 root area.
    unsigned int InitDirInfo(unsigned int cluster);

    // Read-only views for callers and tests.
    const tessaroo::FatGeometry& GetGeometry() const { return m_geo; }
    bool IsGeometryValid() const { return m_bGeometryValid; }
    const std::vector<uint8_t>& GetBitMap() const { return m_pBitMap; }
    CScanResultFileManager* GetScanResult() const { return m_pScanResult.get(); }

  private:
    struct DirEntryInfo
    {
        _FILE_NODE_ node;
        unsigned int parentCluster; // the folder the entry was found in
    };

    // Reads count volume sectors from volume-relative sector into buf.
    unsigned int ReadVolumeSectors(unsigned char* buf, uint64_t sector, uint32_t count, uint32_t* got);
    // Absolute 512-byte sector of a volume-relative sector.
    uint64_t AbsSector(uint64_t volumeSector) const
    {
        return m_u64StartSector + volumeSector * m_geo.unitsPerSector;
    }
    int ReportScan(int percent, int secondsLeft);
    // The walk of one folder's clusters; helpers of InitDirInfo.
    unsigned int WalkDirBuffer(const unsigned char* buf, size_t len, uint64_t firstSector,
                               unsigned int& current, bool insideDeleted, bool& ended);
    void AddFileNode(const unsigned char* entry, const std::string& name, uint64_t entrySector,
                     unsigned int folder);
    void AddDirNode(const unsigned char* entry, const std::string& name, unsigned int folder,
                    bool insideDeleted);
    void MarkFolderForListing(unsigned int folder);
    unsigned int EntryCluster(const unsigned char* entry, bool isDir, const char* name);
    // The search both high-word guesses share: starts(sector, bytes, absolute
    // 512-byte sector) judges the first sector of each candidate cluster.
    unsigned int
    FindHighClusterWord(unsigned short low, unsigned short& high,
                        const std::function<bool(const unsigned char*, size_t, uint64_t)>& starts);
    void WriteFolderNodes();
    // Copies the first limit bytes of a file node along its chain: each
    // piece goes to sink (0 or the status that ends the copy), and after
    // each piece but the last, progress(percent) is asked whether to go on.
    unsigned int CopyFileData(const _FILE_NODE_* node, uint64_t limit,
                              const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                              const std::function<int(int)>& progress, uint64_t& copied);
    unsigned int SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath);
    // This engine's reader of a file's data, for the shared copy and preview.
    tessaroo::FILE_DATA_READER DataReader();
    unsigned int ReadClusterOfNode(const _FILE_NODE_* node, uint32_t cluster, unsigned char* buf,
                                   uint32_t& bytes);

    unsigned long long m_u64StartSector;
    unsigned long long m_u64SectorCount;
    unsigned long long m_u64BootUnit = 0;
    wchar_t m_wcDriveLetter;
    int m_nBytesPerSector;
    int m_hDevice;
    unsigned char m_szBootSector[tessaroo::FAT_BOOT_READ_BYTES];
    unsigned int m_nFirstDataSector;
    unsigned int m_nSectorsPerCluster;
    unsigned int m_nRootClusterNO;
    int m_nIsFat32;
    int m_nBitMapSize;
    std::vector<uint8_t> m_pBitMap;
    unsigned long long m_u64FatStartSector;
    int m_nEngineType;
    CDiskReader m_diskReader;
    std::unique_ptr<CScanResultFileManager> m_pScanResult;
    std::deque<unsigned int> m_dirQueue;
    std::map<unsigned int, DirEntryInfo> m_dirNodeMap;
    std::vector<unsigned int> m_delDirVec;
    int m_nScale;
    SCAN_CALLBACK m_pScanFunc;
    RECOVERY_CALLBACK m_pRecoveryFunc;
    void* m_pParam;
    CFileTypeJudge m_fileTypeJudge;

    tessaroo::FatGeometry m_geo;
    bool m_bGeometryValid;
    tessaroo::CFatChainWalker m_fat;
    // Folders walked in this scan, folders already marked for listing, and
    // the level of every folder asked for (reading ".." entries is a device
    // read per level).
    std::set<unsigned int> m_walkedDirs;
    // Every folder cluster whose entries this scan has read. On a damaged
    // volume folder chains can be cross-linked (a folder starting inside
    // another's chain); each cluster is read once, so the walk stays linear
    // in the volume's folder clusters and no entry is listed twice.
    tessaroo::CClusterRunSet m_walkedClusters;
    std::set<unsigned int> m_markedDirs;
    std::unordered_map<unsigned int, int> m_levelCache;
    // Long-name parts met in the folder being walked.
    tessaroo::CFatLongName m_longName;
    // Periodic scan reports.
    unsigned long long m_u64LastReport;
    int m_nReportStep;

    CScanResultFileManager* ResultStore() const override { return m_pScanResult.get(); }
    uint32_t RootFolder() const override { return m_nRootClusterNO; }
};
