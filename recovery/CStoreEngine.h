// An engine that files what it finds in a result store of its own and
// answers the interface's tree and search queries from that store, the
// same way for every file system: the engine gives only its store and the
// number of its volume's root folder.
#pragma once

#include "core/IFileRecoveryParse.h"

#include <cstdint>
#include <vector>

class CScanResultFileManager;

class CStoreEngine : public IFileRecoveryParse
{
  public:
    unsigned int GetChildrenFileNode(_FILE_NODE_* dir, unsigned int level,
                                     std::vector<_FILE_NODE_>& children) override;
    unsigned int GetChildrenFileCount(_FILE_NODE_* dir, unsigned int level, unsigned int& count) override;
    unsigned int GetLostFileCount() override;
    unsigned int GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int pathLen) override;
    // Kept for the stores of later scans, and handed to the current one.
    unsigned int InitSearchCallBack(SEARCH_CALLBACK search, void* ctx) override;
    unsigned int SearchFileNode(wchar_t* typeKey, std::vector<__SEARCH_FILE_INFO__>& hits) override;

  protected:
    // The store of the current scan; null before the first.
    virtual CScanResultFileManager* ResultStore() const = 0;
    virtual uint32_t RootFolder() const = 0;

    SEARCH_CALLBACK m_pSearchFunc = nullptr;
    void* m_pSearchParam = nullptr;
};
