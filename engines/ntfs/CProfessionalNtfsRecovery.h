// The deep NTFS engine: rebuilds the folders of NTFS volumes from MFT file
// records found anywhere on a device. The deep-scan coordinator sweeps the
// device and hands it every sector that starts a file record.
//
// (Placeholder: the engine itself is being written; this declares the
// operations the coordinator calls.)
#pragma once

#include "core/IFileRecoveryParse.h"
#include "engines/ntfs/NtfsLayout.h"

#include <vector>

class CProfessionalNtfsRecovery : public IFileRecoveryParse
{
  public:
    static constexpr const char* STORE_PREFIX = "Pro_Ntfs_";

    CProfessionalNtfsRecovery() = default;
    ~CProfessionalNtfsRecovery() override = default;

    unsigned int Init(int, long long, long long, wchar_t) override { return 0; }
    unsigned int Init(wchar_t*, wchar_t) override { return 0; }
    unsigned int InitCallBack(SCAN_CALLBACK, RECOVERY_CALLBACK, void*, int) override { return 0; }
    unsigned int ScanDevice(wchar_t*) override { return 0; }
    unsigned int GetChildrenFileNode(_FILE_NODE_*, unsigned int, std::vector<_FILE_NODE_>&) override
    {
        return 0;
    }
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
    unsigned int InitProfessionalScan(wchar_t*) { return 0; }
    // An MFT file record (not yet fixed up) at absolute sector absSector.
    unsigned int ParseNtfsFileRecord(unsigned char*, unsigned long long) { return 0; }
    // After the sweep: parent chains, folders and lost folders.
    unsigned int ParseProfessionalRecordVec() { return 0; }
    // The runs of the attribute of type attributeType (0x80: the unnamed
    // data) of the record at recordSector; 0 when they were read.
    int GetRunListInfo(long long, int, std::vector<__RUNLIST__>& runs)
    {
        runs.clear();
        return -1;
    }
};
