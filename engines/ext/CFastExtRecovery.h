// Placeholder engine for ext volumes: it opens the disk and finds nothing.
#pragma once

#include "core/IFileRecoveryParse.h"

class CFastExtRecovery : public IFileRecoveryParse
{
  public:
    CFastExtRecovery();
    ~CFastExtRecovery() override;

    unsigned int Init(int diskIndex, long long startSector, long long sectorCount,
                      wchar_t driveLetter) override;
    unsigned int Init(wchar_t* devicePath, wchar_t driveLetter) override;
    unsigned int InitCallBack(SCAN_CALLBACK, RECOVERY_CALLBACK, void*, int) override { return 0; }
    unsigned int ScanDevice(wchar_t*) override { return 0; }
    unsigned int GetChildrenFileNode(_FILE_NODE_*, unsigned int, std::vector<_FILE_NODE_>&) override
    {
        return 0;
    }
    unsigned int GetChildrenFileCount(_FILE_NODE_*, unsigned int, unsigned int&) override { return 0; }
    unsigned int GetLostFileCount() override { return 0; }
    unsigned int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    unsigned int SaveFileData(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    unsigned int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    unsigned int InitSearchCallBack(SEARCH_CALLBACK, void*) override { return 0; }
    unsigned int SearchFileNode(wchar_t*, std::vector<__SEARCH_FILE_INFO__>&) override { return 0; }
    unsigned int BuildBitMapInfo() override { return 0; }
    unsigned int PreView(_FILE_NODE_*, wchar_t*, unsigned char*, int&, PREVIEW_CALLBACK, void*) override
    {
        return 0;
    }

  private:
    int m_hDevice;
    long long m_llStartSector;
    long long m_llSectorCount;
};
