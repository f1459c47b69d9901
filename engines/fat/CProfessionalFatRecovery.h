// The deep FAT engine: rebuilds lost FAT volumes from directory sectors
// found anywhere on a device. The deep-scan coordinator sweeps the device
// and hands it every sector that looks like FAT directory data.
//
// (Placeholder: the engine itself is being written; this declares the
// operations the coordinator calls.)
#pragma once

#include "core/IFileRecoveryParse.h"

#include <vector>

class CProfessionalFatRecovery : public IFileRecoveryParse
{
  public:
    static constexpr const char* STORE_PREFIX = "Pro_Fat_";

    CProfessionalFatRecovery() = default;
    ~CProfessionalFatRecovery() override = default;

    unsigned int Init(int, long long, long long, wchar_t) override { return 0; }
    unsigned int Init(wchar_t*, wchar_t) override { return 0; }
    unsigned int InitCallBack(SCAN_CALLBACK, RECOVERY_CALLBACK, void*, int) override { return 0; }
    unsigned int ScanDevice(wchar_t*) override { return 0; }
    unsigned int GetChildrenFileNode(_FILE_NODE_*, unsigned int, std::vector<_FILE_NODE_>&) override { return 0; }
    unsigned int GetChildrenFileCount(_FILE_NODE_*, unsigned int, unsigned int&) override { return 0; }
    unsigned int GetLostFileCount() override { return 0; }
    unsigned int GetFileNodeParentDirPath(_FILE_NODE_*, wchar_t*, int) override { return 0; }
    unsigned int SaveFileData(_FILE_NODE_*, wchar_t*, int) override { return 87; }
    unsigned int GetUnUsedSectorCount(unsigned long long&, unsigned long long&) override { return 0; }
    unsigned int InitSearchCallBack(SEARCH_CALLBACK, void*) override { return 0; }
    unsigned int SearchFileNode(wchar_t*, std::vector<__SEARCH_FILE_INFO__>&) override { return 0; }
    unsigned int BuildBitMapInfo() override { return 0; }
    unsigned int PreView(_FILE_NODE_*, wchar_t*, unsigned char*, int& len, PREVIEW_CALLBACK, void*) override
    {
        len = 0;
        return 87;
    }

    // Empties everything collected and starts a new store (storeName null or
    // empty) or reopens the named store of the current scan-log folder.
    unsigned int ClearProfessionalVec(wchar_t*) { return 0; }
    // Takes the volume's own geometry first when its boot sector is intact.
    unsigned int InitVirtualDbrInfo() { return 0; }
    // A sector that starts a subdirectory (its "." and ".." entries), at
    // absolute sector absSector.
    unsigned int ParseFatFileRecord(unsigned char*, unsigned long long) { return 0; }
    // Any other sector of directory entries.
    unsigned int ParseFDTFileRecord(unsigned char*, unsigned long long) { return 0; }
    // After the sweep: resolves what waited for a geometry and writes the folders.
    unsigned int DealProfessionalRecordVec() { return 0; }
};
