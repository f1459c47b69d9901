// The structural engine for an NTFS volume whose boot sector is intact. The
// scan reads the MFT through its own run list in 1 MiB pieces, turns every
// deleted file record into a node of a scan result store, files it under its
// folder by walking parent references up to the root, and puts files whose
// folders can no longer be named under "LostFolder<n>" folders of the root.
// The volume bitmap tells a deep sweep which clusters are free. File copy,
// folder copy and preview re-read a node's record and follow its data runs.
//
// The volume is only ever read. Nodes carry uEngineType 0.
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
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CScanResultFileManager;

class CFastNtfsRecovery : public CStoreEngine, private tessaroo::INtfsVolume
{
  public:
    // The boot sector to read at Init, in 512-byte units from the volume's
    // start: 0, or the backup in the volume's last sector when the first is
    // lost.
    void UseBootSectorAt(unsigned long long unit) { u64BootUnit = unit; }
    CFastNtfsRecovery();
    ~CFastNtfsRecovery() override;
    CFastNtfsRecovery(const CFastNtfsRecovery&) = delete;
    CFastNtfsRecovery& operator=(const CFastNtfsRecovery&) = delete;

    // Opens disk diskIndex read-only, reads the boot sector and the MFT's
    // own run list. 0 when already open; the error number of a failed open
    // or read position; 30 when fewer than 4096 boot bytes arrive; 87 when
    // the boot sector gives no usable geometry (a sector size other than
    // 512 to 4096, for one: the engine then finds nothing). An MFT whose run
    // list cannot be read is not an error: the scan then lists nothing.
    unsigned int Init(int diskIndex, long long startSector, long long sectorCount,
                      wchar_t driveLetter) override;
    // Opens the path read-only and takes its size; sets up no reader (a
    // volume opened this way cannot be scanned).
    unsigned int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx, int scale) override;
    // resultName null: a new scan into a new store "Fast_<start>_<time>" in
    // the current scan-log folder. Otherwise reopens that earlier store.
    // Returns 0, or the non-zero answer that stopped the scan.
    unsigned int ScanDevice(wchar_t* resultName) override;
    // File node: copies its data into targetPath, which must not exist yet.
    // Folder node: creates targetPath and copies the tree below it breadth
    // first. One report with percent 100 per file: status 0 on success, 30
    // for a file kept incomplete, the failure's code otherwise. Returns the
    // status of the last file, or -9527.
    unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators) override;
    // Positions are 512-byte sectors relative to the volume start.
    unsigned int GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count) override;
    // Reads the volume bitmap (record 6), at most one bit per cluster of the
    // volume. 0, 87 without a usable boot sector, -1 when record 6 is not a
    // record, -100 when it has no data, or the error of its record's read.
    unsigned int BuildBitMapInfo() override;
    // A picture is written whole to "tmp.<ext>" in the scan-log folder and
    // its path put into imagePath, which must hold 256 units; any other file
    // gives its first min(len, size) bytes in buf.
    unsigned int PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                         PREVIEW_CALLBACK progress, void* ctx) override;

    // Copies one file, or for a folder node creates the folder and queues it.
    unsigned int SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath);

    // Reads record number record (one record, through the MFT's runs) into
    // buf of len >= GetRecordBytes() bytes. 0, 87 for a number the MFT does
    // not hold or a short buffer, or the reader's status.
    unsigned int GetFileRecordBuf(unsigned int record, unsigned char* buf, size_t len);
    // Absolute 512-byte sector where record number record starts; the
    // volume's start sector when the MFT does not hold it.
    unsigned long long GetFileRecordIndexSectorOffset(unsigned long long record);
    // The runs of the first attribute of type (the unnamed one for data) of
    // the record at recordSector, following its attribute list: the pieces
    // of one attribute are joined in order. 0; -1 when there is no record;
    // -100 when it has no such attribute; the error of a failed read.
    int GetRunListInfo(unsigned long long recordSector, int type, std::vector<__RUNLIST__>& runs);
    // The pieces of attribute type named by the attribute list list of the
    // fixed-up record rec (len bytes), which is record number number. A
    // piece is taken from a record that names number as its base and is in
    // use exactly when rec is; pieces are joined while each starts where the
    // last ended. Lists inside those records are never followed. 0 when the
    // first piece was found, else -100.
    int Get0X20RunList(const unsigned char* rec, size_t len, const tessaroo::NtfsAttribute& list,
                       unsigned int number, int type, std::vector<__RUNLIST__>& runs);
    // The real size of the first unnamed data attribute of the record at
    // recordSector. 0, -1 (no record), 87 (no data attribute) or the error
    // of the read.
    int GetBitMapRealBytesSize(unsigned long long recordSector, unsigned long long& size);
    // Resident data of the record at recordSector into buf (bufLen bytes):
    // 0 with length set; -101 when the data is not resident (or there is no
    // record or data); 87 when it does not fit in buf; the read's error.
    int GetAttr0x80Data(unsigned long long recordSector, unsigned char* buf, size_t bufLen, unsigned& length);
    // 1 when the file's first data fits the format its extension names, or
    // cannot be judged; 0 when it does not, or when the record holds no
    // data for a file that is not empty.
    int IsFileDataHealth(_FILE_NODE_* node, unsigned int unused);

    // Read-only views for callers and tests.
    bool IsGeometryValid() const { return bGeometryValid; }
    const tessaroo::NtfsGeometry& GetGeometry() const { return geo; }
    const std::vector<__RUNLIST__>& GetMftRunList() const { return vecMftRunList; }
    const std::vector<unsigned int>& GetAncestors() const { return vecAncestorIndex; }
    const std::vector<uint8_t>& GetBitMap() const { return pBitmap; }
    unsigned long long GetBitmapBytes() const { return u64BitmapBytes; }
    CScanResultFileManager* GetScanResult() const { return pResultStore.get(); }

  private:
    using DataInfo = tessaroo::NtfsDataInfo;
    // What a folder's record says, kept from the walk up for the ancestor pass.
    struct FolderInfo
    {
        bool bRecord = false; // a readable record with the "FILE" signature
        bool bIsDir = false;
        bool bNamed = false;
        uint32_t uParent = 0;
        tessaroo::NtfsFileName name;
        uint64_t u64Size = 0;
    };

    // --- records and runs (CFastNtfsRecoveryRecords.cpp)
    unsigned int ReadVolume(unsigned char* buf, uint64_t abs512, uint32_t units);
    // The volume as the shared record primitives read it.
    uint64_t VolumeClusters() const override;
    uint32_t ClusterBytes() const override { return geo.bytesPerCluster; }
    uint64_t ClusterSector(uint64_t cluster) const override { return ClusterToAbs(cluster); }
    unsigned int ReadSectors(uint64_t abs512, unsigned char* buf, uint32_t units) override
    {
        return ReadVolume(buf, abs512, units);
    }
    unsigned int ReadRecordByNumber(uint64_t number, unsigned char* buf, size_t len) override;
    void SetMftRuns(const std::vector<__RUNLIST__>& runs);
    void LoadMftRunList();
    // Reads len bytes of the MFT from byte offset off (a multiple of 512).
    unsigned int ReadMft(uint64_t off, unsigned char* buf, size_t len);
    uint64_t MftBytes() const;
    uint64_t ClusterToAbs(uint64_t cluster) const { return u64StartSector + cluster * geo.unitsPerCluster; }
    // Reads and fixes up the record at an absolute sector (contiguous).
    unsigned int ReadRecordAt(uint64_t abs512, unsigned char* buf, size_t len);
    // The record of a node: by number through the MFT when that is where
    // its sector points, else at its sector.
    unsigned int ReadNodeRecord(const _FILE_NODE_* node, unsigned char* buf, size_t len);
    int ResolveData(const unsigned char* rec, size_t len, const tessaroo::NtfsRecordHeader& h,
                    unsigned int number, uint32_t type, DataInfo& out)
    {
        return parser.ResolveData(*this, rec, len, h, number, type, out);
    }
    // --- the scan (CFastNtfsRecovery.cpp)
    int ReportScan(int percent, int secondsLeft);
    unsigned int SweepMft();
    void ParsePieceRecords(unsigned char* buf, size_t len, uint64_t firstRecord);
    void ParseDeletedRecord(unsigned char* rec, size_t len, uint32_t number);
    // The level at which the children of folder are filed: the folders from
    // it up to the root (5), it included. Every folder met is noted for the
    // ancestor pass.
    unsigned int GetRootParentDirIndex(unsigned int folder);
    const FolderInfo& ReadFolderInfo(unsigned int record);
    void NoteAncestor(unsigned int record);
    void RunAncestorPass();
    _FILE_NODE_* NewNode();
    // --- data (CFastNtfsRecoveryData.cpp)
    int HealthOfData(const DataInfo& d, int status, const char* name, uint64_t size);
    unsigned int CopyFileData(const _FILE_NODE_* node, uint64_t limit,
                              const std::function<unsigned int(const unsigned char*, size_t)>& sink,
                              const std::function<int(int)>& progress, uint64_t& copied);
    unsigned int SaveFileToTarget(_FILE_NODE_* node, wchar_t* targetPath);
    // This engine's reader of a file's data, for the shared copy and preview.
    tessaroo::FILE_DATA_READER DataReader();

    unsigned long long u64StartSector;
    unsigned long long u64SectorCount;  // 512-byte sectors opened
    unsigned long long u64BootUnit = 0; // where Init reads the boot sector (backup: the volume's last sector)
    unsigned long long u64MftStartSector;
    wchar_t wcDriveLetter;
    int nBytesPerSector;
    int nRecordBytes;
    int nSectorsPerRecord;
    int nSectorsPerCluster;
    int nScanChunkBytes;
    std::vector<uint8_t> pScanBuf;
    unsigned long long u64BitmapBytes;
    std::vector<uint8_t> pBitmap;
    int nEngineType;
    std::vector<__RUNLIST__> vecMftRunList;
    std::vector<unsigned int> vecAncestorIndex;
    CDiskReader reader;
    CNtfsParse parser;
    std::unique_ptr<CScanResultFileManager> pResultStore;
    int nProgressScale;
    SCAN_CALLBACK pScanFunc;
    RECOVERY_CALLBACK pRecoveryFunc;
    void* pParam;
    CFileTypeJudge judge;

    bool bInitialised;
    bool bGeometryValid;
    tessaroo::NtfsGeometry geo;
    // The MFT's runs placed on the volume, with the MFT byte offset at
    // which each ends, for record positions by binary search.
    std::vector<tessaroo::NtfsExtent> vecMftExtents;
    std::vector<uint64_t> vecMftExtentEnds;
    // Ancestors already listed; folders read on walks up; folder levels.
    std::unordered_set<unsigned int> setAncestors;
    std::unordered_map<unsigned int, FolderInfo> mapFolders;
    std::unordered_map<unsigned int, unsigned int> mapLevels;
    // Scan progress.
    unsigned long long u64ScanStartTick;
    unsigned long long u64LastEstimate;
    int nSecondsLeft;

    CScanResultFileManager* ResultStore() const override { return pResultStore.get(); }
    uint32_t RootFolder() const override { return tessaroo::NTFS_ROOT_RECORD; }
};
