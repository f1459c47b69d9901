#include "recovery/CRecoveryFlow.h"

#include "recovery/DestinationCheck.h"
#include "recovery/KindPatterns.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "recovery/CTargetFile.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace tessaroo
{
namespace
{
// A file name is one path component: most file systems take 255 bytes. The
// margin leaves room for the "(n)" that makes a name free.
constexpr size_t MAX_TARGET_NAME_BYTES = 240;

// Cuts a UTF-8 name to at most limit bytes, keeping its extension and never
// splitting a character.
std::string ShortenName(const std::string& name, size_t limit)
{
    if (name.size() <= limit)
        return name;
    std::string ext;
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= 16)
        ext = name.substr(dot);
    std::string stem = name.substr(0, name.size() - ext.size());
    size_t keep = limit > ext.size() ? limit - ext.size() : 0;
    if (stem.size() > keep)
    {
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
            --keep;
        stem.resize(keep);
    }
    if (stem.empty())
        stem = "_";
    return stem + ext;
}

std::string TrimTrailingSlashes(const std::string& s)
{
    std::string r = s;
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    return r;
}
} // namespace

CRecoveryFlow::CRecoveryFlow()
    : m_pObserver(nullptr), m_pObserverCtx(nullptr), m_bStop(false), m_nCurrent(0), m_bCurrentReported(false)
{
}

void CRecoveryFlow::SetObserver(ObserverFunc observer, void* ctx)
{
    m_pObserver = observer;
    m_pObserverCtx = ctx;
}

size_t CRecoveryFlow::GetRecoveredCount() const
{
    size_t n = 0;
    for (const RecoveryResult& r : m_results)
        n += r.nStatus == 0;
    return n;
}

size_t CRecoveryFlow::GetFailedCount() const
{
    return m_results.size() - GetRecoveredCount();
}

std::string CRecoveryFlow::TargetNameOf(const _FILE_NODE_& node)
{
    char name[FILE_NAME_SIZE];
    memcpy(name, node.szFileName, sizeof(name));
    name[sizeof(name) - 1] = 0;
    return ShortenName(MakeSafeTargetName(name), MAX_TARGET_NAME_BYTES);
}

std::string CRecoveryFlow::FormTargetPath(const std::string& destination, const _FILE_NODE_& node)
{
    const std::string dest = TrimTrailingSlashes(destination);
    char name[FILE_NAME_SIZE];
    memcpy(name, node.szFileName, sizeof(name));
    name[sizeof(name) - 1] = 0;
    return (dest == "/" ? std::string() : dest) + "/" + GetDirTypeByFileName(name) + "/" + TargetNameOf(node);
}

int CRecoveryFlow::RecoveryCallBack(void* ctx, int percent, int scale, int status, wchar_t* targetPath)
{
    return static_cast<CRecoveryFlow*>(ctx)->OnReport(percent, scale, status, targetPath);
}

int CRecoveryFlow::OnReport(int percent, int scale, int status, const wchar_t* targetPath)
{
    const std::string target = targetPath ? WideToUtf8(targetPath) : std::string();
    if (percent == 100)
    {
        RecoveryResult r;
        r.nIndex = m_nCurrent;
        r.strName = m_strCurrentName;
        r.strTarget = target;
        r.nStatus = status;
        m_results.push_back(r);
        m_bCurrentReported = true;
    }
    if (m_pObserver)
        m_pObserver(m_pObserverCtx, percent, scale, status, target);
    return m_bStop.load() ? STATUS_CANCEL : 0;
}

CRecoveryFlow::Outcome CRecoveryFlow::RecoveryProcess(IFileRecoveryParse* engine,
                                                      const std::vector<_FILE_NODE_>& files,
                                                      const std::string& destination,
                                                      const ScannedVolume& volume)
{
    m_results.clear();
    m_strMessage.clear();
    if (!engine || destination.empty())
    {
        m_strMessage = "no engine or no destination folder";
        return OUTCOME_BAD_DESTINATION;
    }
    const std::string dest = TrimTrailingSlashes(destination);
    std::string overlap;
    if (DestinationOverlapsVolume(dest, volume.strDevicePath, volume.u64StartSector, volume.u64SectorCount,
                                  overlap))
    {
        m_strMessage = overlap;
        return OUTCOME_OVERLAP;
    }
    // The destination is held open for the run; every target below it is
    // made relative to that handle (CTargetFile).
    const std::wstring wideDest = Utf8ToWide(dest.c_str());
    CTargetRoot root;
    if (root.Open(dest, wideDest, m_strMessage) != STATUS_SUCCESS)
        return OUTCOME_BAD_DESTINATION;
    int rootSeparators = 0;
    GetPathDirIndex(wideDest.c_str(), rootSeparators);
    engine->InitCallBack(nullptr, &CRecoveryFlow::RecoveryCallBack, this, 100);

    bool stopped = false;
    for (size_t i = 0; i < files.size(); ++i)
    {
        if (m_bStop.load())
        {
            stopped = true;
            break;
        }
        _FILE_NODE_ node = files[i];
        node.szFileName[sizeof(node.szFileName) - 1] = 0;
        m_nCurrent = i;
        m_bCurrentReported = false;
        m_strCurrentName = node.szFileName;
        std::wstring target = (wideDest == L"/" ? std::wstring() : wideDest) + L"/" +
                              Utf8ToWide(GetDirTypeByFileName(node.szFileName)) + L"/" +
                              Utf8ToWide(TargetNameOf(node).c_str());
        const unsigned int st = engine->SaveFileData(&node, &target[0], rootSeparators);
        // A file the engine could not even start, or that sent no final
        // report, still gets its one result.
        if (!m_bCurrentReported)
        {
            RecoveryResult r;
            r.nIndex = i;
            r.strName = m_strCurrentName;
            r.strTarget = FormTargetPath(dest, node);
            r.nStatus = st != STATUS_SUCCESS ? int(st) : 0;
            m_results.push_back(r);
            if (m_pObserver)
                m_pObserver(m_pObserverCtx, 100, 100, r.nStatus, r.strTarget);
        }
        if (int(st) == STATUS_CANCEL)
        {
            stopped = true;
            break;
        }
    }
    engine->InitCallBack(nullptr, nullptr, nullptr, 100);
    if (stopped || m_bStop.load())
        return OUTCOME_STOPPED;
    if (m_pObserver)
        m_pObserver(m_pObserverCtx, 100, 1000, 0, std::string());
    return OUTCOME_DONE;
}
} // namespace tessaroo
