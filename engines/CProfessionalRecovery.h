// The deep scan: one engine that finds everything that can be found on a
// volume. It lets the volume's own quick engine (FAT, NTFS, ext placeholder,
// or none) list what its metadata still knows and build its allocation
// bitmap, then sweeps every free sector (every sector when there is no
// bitmap) in 64 KiB chunks and offers each sector to the deep NTFS engine
// (an MFT file record), the deep FAT engine (directory sectors) and
// signature carving, jumping over each carved file. At the end the deep
// engines build their trees, and the four engines' results are shown as one
// tree; every per-node operation goes to the engine that made the node.
//
// It owns the deep engines and asks the factory for the quick one, so it
// sits above all engines, beside the factory. Where the sweep stopped is
// kept in the scan index, so a stopped scan of the same volume can go on
// later from there.
#pragma once

#include "core/CDiskReader.h"
#include "core/IFileRecoveryParse.h"
#include "engines/fat/CProfessionalFatRecovery.h"
#include "engines/ntfs/CProfessionalNtfsRecovery.h"
#include "engines/signature/CFileTypeRecovery.h"
#include "store/LogFileInfo.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CProfessionalRecovery : public IFileRecoveryParse
{
  public:
    // Bytes read per step of the sweep.
    static constexpr int CHUNK_BYTES = 65536;
    // The scale of the coordinator's own reports, and that of the quick
    // engine's, which fill the first tenth of the bar.
    static constexpr int SCAN_SCALE = 90;
    static constexpr int FAST_SCALE = 9;

    CProfessionalRecovery();
    ~CProfessionalRecovery() override;
    CProfessionalRecovery(const CProfessionalRecovery&) = delete;
    CProfessionalRecovery& operator=(const CProfessionalRecovery&) = delete;

    // Opens the volume read-only, looks for a scan log of it that can be
    // reused, initialises the deep engines and asks the factory for the
    // volume's quick engine. Returns the deep NTFS engine's Init status.
    unsigned int Init(int diskIndex, long long startSector, long long sectorCount,
                      wchar_t driveLetter) override;
    unsigned int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    // The scale becomes 90 whatever is passed; the quick engine reports
    // with 9, the deep engines with 90.
    unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx, int scale) override;
    // The deep scan; resultName is not used. Returns 0, the answer of a
    // callback that stopped it, or the quick engine's non-zero result.
    unsigned int ScanDevice(wchar_t* resultName) override;
    // The root (null, 0) lists the four engines' roots; anything else goes
    // to the node's engine. Sorted files first, by name.
    unsigned int GetChildrenFileNode(_FILE_NODE_* dir, unsigned int level,
                                     std::vector<_FILE_NODE_>& children) override;
    unsigned int GetChildrenFileCount(_FILE_NODE_* dir, unsigned int level, unsigned int& count) override;
    unsigned int GetLostFileCount() override;
    unsigned int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int pathLen) override;
    unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators) override;
    unsigned int GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count) override;
    unsigned int InitSearchCallBack(SEARCH_CALLBACK search, void* ctx) override;
    // The hits of all engines. A node of a deep engine or a carved file
    // that starts where a file the volume's metadata lists starts, with the
    // same extension, is that file again and is left out; so is a carved
    // file that starts where a deep engine's file does.
    unsigned int SearchFileNode(wchar_t* typeKey, std::vector<__SEARCH_FILE_INFO__>& hits) override;
    unsigned int BuildBitMapInfo() override;
    unsigned int PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                         PREVIEW_CALLBACK progress, void* ctx) override;

    // 1 when Init found a scan log of this volume to go on from.
    int IsFindLogFile() const { return m_bFindLog; }
    // Starts afresh: the found log, if any, is deleted.
    void SetNotLoadLogFile();

    // One chunk of the sweep: len bytes read at absolute sector absSector.
    // extraSectors receives how many sectors after the chunk a carved file
    // still covers (negative after a stop inside a length estimate: the
    // sweep position then stops at that sector). Returns 0 or the stop
    // answer.
    int ParseProfessionalFileInfo(unsigned char* chunk, int len, unsigned long long absSector,
                                  unsigned long long scanned, unsigned long long total, int secondsLeft,
                                  long long& extraSectors, unsigned long long& fileCount);
    // Enters the absolute first data sector of a FAT or NTFS node, with its
    // extension, into starts.
    void GetFileDataStartSectorMap(_FILE_NODE_* node, std::map<unsigned long long, std::string>& starts);

    // Sweep figures of the last ScanDevice, for callers and tests.
    unsigned long long GetScannedSectors() const { return m_u64Scanned; }
    unsigned long long GetTotalSectors() const { return m_u64Total; }
    unsigned long long GetUnreadableSectors() const { return m_u64Unreadable; }

  private:
    // The engine that made node (by uEngineType), null for an unknown type.
    IFileRecoveryParse* EngineOf(const _FILE_NODE_* node);
    // The free runs of the volume, in volume-relative sectors; one run over
    // the whole volume when there is no usable bitmap.
    void CollectRuns(bool haveMap, std::vector<std::pair<unsigned long long, unsigned long long>>& runs);
    int Report(unsigned long long scanned, unsigned long long total, int secondsLeft,
               unsigned long long files);
    unsigned int InitInnerEngines(bool reuse);

    wchar_t m_wcDriveLetter;
    int m_nBytesPerSector;
    int m_nDiskIndex;
    unsigned long long m_u64StartSector;
    unsigned long long m_u64SectorCount;
    CDiskReader m_diskReader;
    CProfessionalFatRecovery m_proFat;
    CProfessionalNtfsRecovery m_proNtfs;
    CFileTypeRecovery m_fileType;
    std::unique_ptr<IFileRecoveryParse> m_pFastEngine;
    int m_nScale;
    SCAN_CALLBACK m_pScanFunc;
    RECOVERY_CALLBACK m_pRecoveryFunc;
    SEARCH_CALLBACK m_pSearchFunc;
    void* m_pSearchParam;
    void* m_pParam;
    int m_bFindLog;
    _LOG_FILE_INFO_ m_logInfo;
    std::string m_strDevicePath;
    unsigned long long m_u64Scanned;
    unsigned long long m_u64Total;
    unsigned long long m_u64Unreadable;
};
