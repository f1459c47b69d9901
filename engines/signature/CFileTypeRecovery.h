// The signature carving engine: recovers files by their content alone. It
// has no sweep of its own: the deep-scan coordinator hands it, sector by
// sector, the free sectors no FAT or NTFS test claimed (ParseFileBuf). When a
// known file starts in a sector, its length is estimated from its own
// structure, it is recorded as a flat node "<first sector>.<extension>" below
// the root of the engine's store, and the caller is told how many sectors to
// jump over.
//
// Nodes carry uEngineType 4 and uClusterSize 0xFFFFFFFF, no times and no
// folders. The device is only ever read; copies and previews are written
// through the recovery library's safe target files.
#pragma once

#include "core/CDiskReader.h"
#include "core/IFileRecoveryParse.h"
#include "engines/signature/CFileTypeJudge.h"
#include "recovery/EngineCopy.h"

#include <memory>
#include <string>
#include <vector>

class CScanResultFileManager;

class CFileTypeRecovery : public IFileRecoveryParse
{
  public:
    // Store names of this engine start with it.
    static constexpr const char* STORE_PREFIX = "File_Type_";

    CFileTypeRecovery();
    ~CFileTypeRecovery() override;
    CFileTypeRecovery(const CFileTypeRecovery&) = delete;
    CFileTypeRecovery& operator=(const CFileTypeRecovery&) = delete;

    // Opens disk diskIndex read-only for the sectors below startSector +
    // sectorCount and starts a new store "File_Type_<start>_<time>" in the
    // current scan-log folder (an earlier store of that name, a scan of the
    // same volume within the same minute, is replaced). Returns the reader's
    // status.
    unsigned int Init(int diskIndex, long long startSector, long long sectorCount,
                      wchar_t driveLetter) override;
    // The same for an image or device path; the start sector in the store's
    // name is 0.
    unsigned int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    // Opens disk diskIndex (or path) read-only for the sectors below
    // sectorLimit and opens the store storeName of the current scan-log
    // folder, new or of an earlier scan. Returns the reader's status.
    unsigned int InitLogFile(const wchar_t* storeName, wchar_t driveLetter, int diskIndex, int bytesPerSector,
                             unsigned long long sectorLimit);
    unsigned int InitLogFile(const wchar_t* storeName, wchar_t driveLetter, wchar_t* devicePath,
                             int bytesPerSector, unsigned long long sectorLimit);

    // Also hands the callbacks to the length estimates.
    unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx, int scale) override;

    // Carves at one sector (len bytes, absolute sector absSector of reader's
    // device, bytesPerSector bytes per sector). scannedSectors,
    // totalSectors and secondsLeft are the sweep's progress, reported by
    // the length estimates that read ahead. Returns 0 when a file was
    // recorded (fileCount grows by one; skipSectors is how many sectors the
    // sweep goes on after: 1 for types whose length comes from a header,
    // else the file's sectors); 87 when no file that can be carved starts
    // here (skipSectors 1); or the non-zero answer of a progress report that
    // stopped the estimate (nothing recorded, the sweep should stop at this
    // sector).
    int ParseFileBuf(const unsigned char* sector, int len, unsigned long long absSector,
                     unsigned long long scannedSectors, unsigned long long totalSectors, int secondsLeft,
                     CDiskReader* reader, int bytesPerSector, unsigned long long& skipSectors,
                     unsigned long long& fileCount);

    // Carving has no scan of its own and no folders.
    unsigned int ScanDevice(wchar_t* resultName) override;
    unsigned int GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count) override;
    unsigned int BuildBitMapInfo() override;
    unsigned int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int pathLen) override;
    // dir null and level 0: every carved node; anything else adds nothing.
    unsigned int GetChildrenFileNode(_FILE_NODE_* dir, unsigned int level,
                                     std::vector<_FILE_NODE_>& children) override;
    unsigned int GetChildrenFileCount(_FILE_NODE_* dir, unsigned int level, unsigned int& count) override;
    unsigned int GetLostFileCount() override;
    // 87 before the store exists.
    unsigned int InitSearchCallBack(SEARCH_CALLBACK search, void* ctx) override;
    unsigned int SearchFileNode(wchar_t* typeKey, std::vector<__SEARCH_FILE_INFO__>& hits) override;
    // Copies the carved file's u64FileSize bytes from its first sector into
    // targetPath (which must not exist yet). One report with percent 100 at
    // the end naming the file as kept: status 0; 30 when the device ended
    // before the file did (what was there is kept); otherwise the failure
    // or the stop, and the file is removed. Returns that status.
    unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators) override;
    // A picture is written whole to "tmp.<ext>" in the scan-log folder and
    // its path put into imagePath (256 units); any other file gives its
    // first min(len, size) bytes in buf.
    unsigned int PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                         PREVIEW_CALLBACK progress, void* ctx) override;

    // Same as SaveFileData.
    unsigned int SaveDataToTargetFile(_FILE_NODE_* node, wchar_t* targetPath);

    CScanResultFileManager* GetScanResult() const { return m_pScanResult.get(); }

  private:
    // Replaces the store by the one of that name, or, for an empty name, by
    // a new store of the volume starting at startSector.
    unsigned int OpenStore(const std::string& name, long long startSector);
    // Reads the carved file from its first sector in 64 KiB pieces and hands
    // the first limit bytes to sink; progress(percent) after each piece but
    // the last. 30 when the device ends first.
    template <typename Sink, typename Progress>
    unsigned int CopyCarvedData(const _FILE_NODE_& node, uint64_t limit, Sink sink, Progress progress,
                                uint64_t& copied);
    // This engine's reader of a file's data, for the shared copy and preview.
    tessaroo::FILE_DATA_READER DataReader();

    wchar_t m_wcDriveLetter;
    int m_nBytesPerSector;
    CDiskReader m_diskReader;
    CFileTypeJudge m_fileTypeJudge;
    std::unique_ptr<CScanResultFileManager> m_pScanResult;
    int m_nScale;
    SCAN_CALLBACK m_pScanFunc;
    RECOVERY_CALLBACK m_pRecoveryFunc;
    void* m_pParam;
    SEARCH_CALLBACK m_pSearchFunc;
    void* m_pSearchParam;
    // The copy buffer, allocated on first use.
    std::vector<unsigned char> m_copyBuf;
};
