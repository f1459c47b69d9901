// The deep NTFS engine: rebuilds the folders of NTFS volumes from MFT file
// records found anywhere on a device. The deep-scan coordinator sweeps the
// device and hands it every sector that starts a file record; the engine
// reads the device itself only for the records on a file's folder chain,
// for a file's first data sector, and to copy data.
//
// Which volume a record belongs to is learned from the records themselves:
// every "$MFT" record met (and the scanned volume's own boot sector) gives
// one MFT layout, whose runs place records of that MFT at their sectors and
// whose first run gives the volume's start. A record no known MFT places is
// taken to lie in a contiguous MFT whose record 0 sits 2 sectors per record
// number before it, on a volume starting where the scanned area starts.
// Folders are told apart by that MFT and their record number, so the
// folders of two volumes never merge.
//
// Every file record (in use or deleted, never a folder's own) becomes a
// node when the sweep meets it; its folder chain is read then, once per
// folder. After the sweep the folders met become nodes: folders under
// their parents, and "LostFolder<n>" at the root for parents that are gone
// (no record, not a folder, another record, the volume's own metadata).
// Nodes carry uEngineType 2. The device is only ever read.
#pragma once

#include "core/CDiskReader.h"
#include "core/IFileRecoveryParse.h"
#include "recovery/CStoreEngine.h"
#include "recovery/EngineCopy.h"
#include "engines/ntfs/CNtfsParse.h"
#include "engines/ntfs/NtfsLayout.h"
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

class CProfessionalNtfsRecovery : public CStoreEngine
{
  public:
    static constexpr const char* STORE_PREFIX = "Pro_Ntfs_";

    // Memory caps for what waits between the sweep and the folder pass, so
    // that a deep scan of a 64 GB card stays well under 256 MiB whatever
    // the card holds:
    // - folders met on chains: 262144 (about 80 bytes each here, 264 more
    //   for the store's folder names: about 90 MiB at the cap). Files whose
    //   folder would be one more are filed at the root.
    // - MFT layouts learned from "$MFT" records: 1024, holding at most
    //   131072 runs in all (about 6 MiB). Later "$MFT" records are not
    //   learned; their volume's records are placed as unknown ones.
    // What is dropped is counted and logged once per kind.
    static constexpr size_t MAX_FOLDERS = 262144;
    static constexpr size_t MAX_LAYOUTS = 1024;
    static constexpr size_t MAX_LAYOUT_RUNS = 131072;
    // No volume nests folders this deep (paths are limited to 32767 units);
    // a chain that goes on is damaged and is cut there.
    static constexpr size_t MAX_FOLDER_DEPTH = 4096;
    // Folders get their record number as directory number in the store;
    // one that another volume's folder already holds, or a record number
    // this high (no MFT holds 2^31 records), gets a number from here up.
    static constexpr uint32_t FIRST_SYNTHETIC_FOLDER = 0x80000000u;

    CProfessionalNtfsRecovery();
    ~CProfessionalNtfsRecovery() override;
    CProfessionalNtfsRecovery(const CProfessionalNtfsRecovery&) = delete;
    CProfessionalNtfsRecovery& operator=(const CProfessionalNtfsRecovery&) = delete;

    // Opens disk diskIndex read-only for the area startSector..+sectorCount
    // and reads its first sectors: an NTFS boot sector there gives the
    // default cluster size and the volume's own MFT layout. 0, 87 for a bad
    // area, or the error of the open or of the first sector's read.
    unsigned int Init(int diskIndex, long long startSector, long long sectorCount,
                      wchar_t driveLetter) override;
    // Opens the path read-only and takes its size; no reader (nothing can
    // be read through this form).
    unsigned int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx, int scale) override;
    // The coordinator drives the scan; these three do nothing and return 0.
    unsigned int ScanDevice(wchar_t* resultName) override;
    unsigned int GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count) override;
    unsigned int BuildBitMapInfo() override;
    // File node: copies its data into targetPath, which must not exist yet.
    // Folder node: creates targetPath and copies the tree below it breadth
    // first. One report with percent 100 per file: status 0 on success, 30
    // for a file kept incomplete, the failure's code otherwise. Returns the
    // status of the last file, or -9527.
    unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators) override;
    // A picture is written whole to "tmp.<ext>" in the scan-log folder and
    // its path put into imagePath, which must hold 256 units; any other file
    // gives its first min(len, size) bytes in buf.
    unsigned int PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                         PREVIEW_CALLBACK progress, void* ctx) override;

    // Empties everything collected (folders, learned MFT layouts) and starts
    // a new store (storeName null or empty) or reopens the named store of
    // the current scan-log folder.
    unsigned int InitProfessionalScan(wchar_t* storeName);
    // An MFT file record (not yet fixed up; at least 1024 bytes) found at
    // absolute sector absSector. 0 (taken, or not a file to list); -1
    // without the "FILE" signature; 87 for header offsets that do not fit.
    unsigned int ParseNtfsFileRecord(unsigned char* record, unsigned long long absSector);
    // After the sweep: the folders met on chains become nodes. 0, or the
    // store's flush status.
    unsigned int ParseProfessionalRecordVec();
    // The runs of the attribute of type attributeType (0x80: the unnamed
    // data) of the record at recordSector, through its attribute list when
    // it has one. 0 when runs were read; -1 without a record there; 87 for
    // a bad sector; -100 when the data is resident or missing; the read's
    // error.
    int GetRunListInfo(long long recordSector, int attributeType, std::vector<__RUNLIST__>& runs);

    // 1 when the file's first data fits the format its extension names, or
    // cannot be judged; 0 when it does not, or when the record holds no
    // data for a file that is not empty.
    int IsFileDataHealth(_FILE_NODE_* node);
    // Copies one file, or for a folder node creates the folder and queues it.
    unsigned int SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath);

    // Read-only views for callers and tests.
    size_t GetMftLayoutCount() const { return mapMftRunList.size(); }
    size_t GetFolderCount() const { return vecFolderOrder.size(); }
    unsigned long long GetDroppedCount() const { return u64DroppedFiles + u64DroppedLayouts; }
    CScanResultFileManager* GetScanResult() const { return pResultStore.get(); }

  private:
    // One MFT, known from its "$MFT" record.
    struct MftLayout
    {
        uint64_t u64MftSector = 0;  // absolute sector of record 0
        int64_t i64VolumeStart = 0; // absolute sector of cluster 0
        uint32_t uSectorsPerCluster = 0;
        std::vector<__RUNLIST__> vecRuns;
        std::vector<tessaroo::NtfsExtent> vecExtents;
        std::vector<uint64_t> vecExtentEnds; // MFT byte offset where each extent ends
    };
    // The volume a record was placed in: its MFT (by the sector of record
    // 0), where the volume starts and its cluster size.
    struct VolumeRef
    {
        uint64_t u64MftSector = 0;
        int64_t i64VolumeStart = 0;
        uint32_t uSectorsPerCluster = 1;
    };
    struct FolderKey
    {
        uint64_t u64MftSector;
        uint32_t uRecord;
        bool operator==(const FolderKey& o) const
        {
            return u64MftSector == o.u64MftSector && uRecord == o.uRecord;
        }
    };
    struct FolderKeyHash
    {
        size_t operator()(const FolderKey& k) const
        {
            return std::hash<uint64_t>()(k.u64MftSector * 0x9E3779B97F4A7C15ull ^ k.uRecord);
        }
    };
    // What the engine knows of a folder met on a chain.
    struct FolderState
    {
        uint64_t u64Sector = 0; // where its record was read; 0 when it could not be placed
        int64_t i64VolumeStart = 0;
        uint32_t uId = 0;     // directory number in the store
        uint32_t uParent = 0; // parent record number, for a placeable folder
        uint32_t uLevel = 0;  // folders from the root to this one, itself included; 0 unknown
        uint8_t uSectorsPerCluster = 1;
        bool bPlaceable = false; // a named folder record of this number: it goes under its parent
        bool bAtRoot = false;    // its chain loops or runs too deep: it is put at the root
    };
    // A volume as the shared record primitives read it: clusters from the
    // volume's start, records through its MFT.
    class CRecordVolume : public tessaroo::INtfsVolume
    {
      public:
        CRecordVolume(CProfessionalNtfsRecovery& engine, const VolumeRef& vol) : m_engine(engine), m_vol(vol)
        {
        }
        uint64_t VolumeClusters() const override;
        uint32_t ClusterBytes() const override;
        uint64_t ClusterSector(uint64_t cluster) const override;
        unsigned int ReadSectors(uint64_t abs512, unsigned char* buf, uint32_t units) override;
        unsigned int ReadRecordByNumber(uint64_t number, unsigned char* buf, size_t len) override;

      private:
        CProfessionalNtfsRecovery& m_engine;
        VolumeRef m_vol;
    };
    friend class CRecordVolume;

    // --- records, layouts and folders (CProfessionalNtfsRecovery.cpp)
    unsigned int ReadAbs(unsigned char* buf, uint64_t abs512, uint32_t units);
    uint64_t DeviceEnd() const { return reader.GetEndSector(); }
    // Where record number lies in the MFT of mftSector (its layout when
    // known, else contiguous); false when it lies nowhere.
    bool RecordSector(uint64_t mftSector, uint64_t number, uint64_t& sector) const;
    static bool LayoutSector(const MftLayout& l, uint64_t number, uint64_t& sector);
    // The volume of record number found at sector.
    VolumeRef PlaceRecord(uint64_t number, uint64_t sector, uint32_t ownSectorsPerCluster) const;
    // Learns the MFT of a "$MFT" record (fixed up) at sector.
    void LearnMft(const unsigned char* rec, size_t len, const tessaroo::NtfsRecordHeader& h, uint64_t sector);
    bool BuildLayout(MftLayout& l, const std::vector<__RUNLIST__>& runs) const;
    // The layout of the MFT whose record 0 is at sector, for runs (the first
    // one not a hole) and a cluster size; false when it places nothing.
    bool MakeLayout(MftLayout& l, uint64_t sector, uint32_t spc, const std::vector<__RUNLIST__>& runs) const;
    // The cluster size a record's own data states (allocated bytes over
    // clusters), accepted only as a power of two from 1 to 128 sectors.
    static bool RecordSectorsPerCluster(const unsigned char* rec, size_t len,
                                        const tessaroo::NtfsRecordHeader& h, uint32_t& spc);
    // The folder record of a volume, read and remembered once; null past
    // the folder cap.
    FolderState* GetFolder(const VolumeRef& vol, uint32_t record);
    uint32_t NewFolderId(uint32_t record, uint64_t mftSector);
    // The level at which children of folder are filed (0 for the root) and
    // the folder's directory number; iterative, bounded, loops broken.
    bool WalkUp(const VolumeRef& vol, uint32_t folder, uint32_t& level, uint32_t& id);
    _FILE_NODE_* NewNode();
    void FileFolder(const FolderKey& key, FolderState& st);
    void NoteDropped(unsigned long long& counter, const char* what);

    // --- data (CProfessionalNtfsRecoveryData.cpp)
    // The record of a node read and fixed up, with the volume its data is on.
    int ReadNodeData(const _FILE_NODE_* node, tessaroo::NtfsDataInfo& d, VolumeRef& vol);
    int HealthOfData(const VolumeRef& vol, const tessaroo::NtfsDataInfo& d, int status, const char* name,
                     uint64_t size);
    unsigned int CopyFileData(const _FILE_NODE_* node, uint64_t limit,
                              const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                              const std::function<int(int)>& progress, uint64_t& copied);
    unsigned int SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath);
    // This engine's reader of a file's data, for the shared copy and preview.
    tessaroo::FILE_DATA_READER DataReader();

    unsigned long long u64StartSector;
    unsigned long long u64SectorCount;
    wchar_t wcDriveLetter;
    int nBytesPerSector;
    int nRecordBytes;
    int nSectorsPerRecord;
    CDiskReader reader;
    CNtfsParse parser;
    std::unique_ptr<CScanResultFileManager> pResultStore;
    int nProgressScale;
    SCAN_CALLBACK pScanFunc;
    RECOVERY_CALLBACK pRecoveryFunc;
    void* pParam;
    int nEngineType;
    // Known MFTs by the sector of their record 0.
    std::map<uint64_t, MftLayout> mapMftRunList;
    // Cluster size when nothing better is known: the scanned volume's boot
    // sector, else the formatters' default for its size.
    int nSectorsPerCluster;
    CFileTypeJudge judge;

    // The MFT the scanned volume's boot sector names (kept across scans).
    bool bHaveBootLayout;
    MftLayout bootLayout;
    size_t nLayoutRuns;
    // Folders met on chains, and the order they were met in.
    std::unordered_map<FolderKey, FolderState, FolderKeyHash> mapFolders;
    std::vector<FolderKey> vecFolderOrder;
    // Which volume's folder holds each record number as its directory number.
    std::unordered_map<uint32_t, uint64_t> mapIdOwner;
    uint32_t uNextSyntheticId;
    unsigned long long u64DroppedFiles;
    unsigned long long u64DroppedLayouts;
    std::vector<uint8_t> vecRecord; // the record being parsed, fixed up in place

    CScanResultFileManager* ResultStore() const override { return pResultStore.get(); }
    uint32_t RootFolder() const override { return tessaroo::NTFS_ROOT_RECORD; }
};
