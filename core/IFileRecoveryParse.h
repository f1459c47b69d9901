// The interface every recovery engine implements. The front ends and the
// deep-scan coordinator talk to engines only through it. Operations return
// status codes (Status.h) and never throw.
#pragma once

#include "FileNode.h"

#include <vector>

class IFileRecoveryParse
{
  public:
    virtual unsigned int Init(int diskIndex, long long startSector, long long sectorCount,
                              wchar_t driveLetter) = 0;
    virtual unsigned int Init(wchar_t* devicePath, wchar_t driveLetter) = 0;
    virtual unsigned int InitCallBack(SCAN_CALLBACK scan, RECOVERY_CALLBACK recovery, void* ctx,
                                      int scale) = 0;
    virtual unsigned int ScanDevice(wchar_t* resultName) = 0;
    virtual unsigned int GetChildrenFileNode(_FILE_NODE_* dir, unsigned int level,
                                             std::vector<_FILE_NODE_>& children) = 0;
    virtual unsigned int GetChildrenFileCount(_FILE_NODE_* dir, unsigned int level, unsigned int& count) = 0;
    virtual unsigned int GetLostFileCount() = 0;
    virtual unsigned int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int pathLen) = 0;
    virtual unsigned int SaveFileData(_FILE_NODE_* node, wchar_t* targetPath, int rootSeparators) = 0;
    virtual unsigned int GetUnUsedSectorCount(unsigned long long& start, unsigned long long& count) = 0;
    virtual unsigned int InitSearchCallBack(SEARCH_CALLBACK search, void* ctx) = 0;
    virtual unsigned int SearchFileNode(wchar_t* typeKey, std::vector<__SEARCH_FILE_INFO__>& hits) = 0;
    virtual unsigned int BuildBitMapInfo() = 0;
    virtual unsigned int PreView(_FILE_NODE_* node, wchar_t* imagePath, unsigned char* buf, int& len,
                                 PREVIEW_CALLBACK progress, void* ctx) = 0;
    virtual ~IFileRecoveryParse() = default;
};
