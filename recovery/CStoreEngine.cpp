#include "recovery/CStoreEngine.h"

#include "core/Status.h"
#include "store/CScanResultFileManager.h"

unsigned int CStoreEngine::GetChildrenFileNode(_FILE_NODE_* dir, unsigned int level,
                                               std::vector<_FILE_NODE_>& children)
{
    return CScanResultFileManager::ChildrenOf(ResultStore(), dir, level, RootFolder(), children);
}

unsigned int CStoreEngine::GetChildrenFileCount(_FILE_NODE_* dir, unsigned int level, unsigned int& count)
{
    return CScanResultFileManager::ChildCountOf(ResultStore(), dir, level, RootFolder(), count);
}

unsigned int CStoreEngine::GetLostFileCount()
{
    const CScanResultFileManager* store = ResultStore();
    return store ? store->GetFileIndex() : 0;
}

unsigned int CStoreEngine::GetFileNodeParentDirPath(_FILE_NODE_* node, wchar_t* path, int pathLen)
{
    return CScanResultFileManager::ParentPathOf(ResultStore(), node, path, pathLen);
}

unsigned int CStoreEngine::InitSearchCallBack(SEARCH_CALLBACK search, void* ctx)
{
    m_pSearchFunc = search;
    m_pSearchParam = ctx;
    if (CScanResultFileManager* store = ResultStore())
        store->InitSearchCallBack(search, ctx);
    return tessaroo::STATUS_SUCCESS;
}

unsigned int CStoreEngine::SearchFileNode(wchar_t* typeKey, std::vector<__SEARCH_FILE_INFO__>& hits)
{
    return CScanResultFileManager::SearchIn(ResultStore(), typeKey, hits);
}
