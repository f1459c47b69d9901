#include "cli/CliCommands.h"

#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "engines/CFileRecoveryFactory.h"
#include "engines/CProfessionalRecovery.h"
#include "partition/CPartitionManager.h"
#include "recovery/CRecoveryFlow.h"
#include "recovery/KindPatterns.h"
#include "store/CLogFileManager.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

namespace tessaroo
{
namespace cli
{
std::atomic<bool> g_interrupted(false);
std::atomic<bool> g_stoppable(false);

namespace
{
using Json = nlohmann::ordered_json;

std::atomic<CRecoveryFlow*> g_flow(nullptr);

// Marks a step that polls the stop request through the engines' callbacks.
class CStoppableStep
{
  public:
    CStoppableStep() { g_stoppable.store(true); }
    ~CStoppableStep() { g_stoppable.store(false); }
};

// One JSON document on standard output; text that is not UTF-8 (a damaged
// name) is written with U+FFFD, so the document always parses.
void PrintJson(const Json& j)
{
    printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

// ---------------------------------------------------------------------------
// Progress on standard error, only when it is a terminal.
class CProgress
{
  public:
    CProgress() : m_bTty(isatty(2) != 0), m_u64Start(rsb_getTickCount()), m_bDrawn(false) {}
    void Restart(const char* what)
    {
        m_strWhat = what;
        m_u64Start = rsb_getTickCount();
    }
    void Draw(int percent, const std::string& extra)
    {
        if (!m_bTty)
            return;
        percent = std::max(0, std::min(100, percent));
        const int width = 30;
        std::string bar(size_t(percent * width / 100), '#');
        bar.resize(width, '.');
        fprintf(stderr, "\r\033[K%s [%s] %3d%%  %s", m_strWhat.c_str(), bar.c_str(), percent, extra.c_str());
        fflush(stderr);
        m_bDrawn = true;
    }
    void Clear()
    {
        if (m_bTty && m_bDrawn)
        {
            fprintf(stderr, "\r\033[K");
            fflush(stderr);
        }
        m_bDrawn = false;
    }
    unsigned long long ElapsedMs() const { return rsb_getTickCount() - m_u64Start; }

  private:
    bool m_bTty;
    unsigned long long m_u64Start;
    bool m_bDrawn;
    std::string m_strWhat;
};

CProgress g_progress;

int ScanCallBack(void*, int percent, int scale, int secondsLeft, unsigned long long current,
                 unsigned long long total, unsigned long long files, wchar_t*)
{
    if (g_interrupted.load())
        return 1;
    std::string extra;
    if (total)
    {
        const unsigned long long ms = std::max(g_progress.ElapsedMs(), 1ULL);
        char rate[32];
        snprintf(rate, sizeof(rate), "%.1f MB/s  ",
                 double(current) * 512.0 / 1048576.0 / (double(ms) / 1000.0));
        extra += rate;
    }
    extra += "files " + std::to_string(files) + "  ";
    if (secondsLeft >= 0)
        extra += "left " + GetTimeString(secondsLeft);
    else
        extra += "elapsed " + GetTimeString((long long)(g_progress.ElapsedMs() / 1000));
    g_progress.Draw(percent * scale / 100, extra);
    return 0;
}

int SearchCallBack(void*, int percent, wchar_t*)
{
    if (g_interrupted.load())
        return 1;
    g_progress.Draw(percent, "");
    return 0;
}

std::string StatusText(int status)
{
    if (IsDestinationStatus(uint32_t(status)))
        return std::string("cannot write to the destination: ") +
               strerror(DestinationErrno(uint32_t(status)));
    switch (status)
    {
    case 0:
        return "ok";
    case int(STATUS_READ_FAULT):
        return "incomplete: the data ran out before the end of the file";
    case int(STATUS_CLUSTER_TOO_LARGE):
        return "cluster too large to copy";
    case int(STATUS_INVALID_PARAMETER):
        return "damaged record";
    case int(STATUS_NOT_ENOUGH_MEMORY):
        return "out of memory";
    case STATUS_CANCEL:
        return "stopped";
    default:
        return status > 0 ? "read error: " + std::string(strerror(status))
                          : "error " + std::to_string(status);
    }
}

// ---------------------------------------------------------------------------
// Disks and volumes.
struct Volume
{
    int nDisk = 0;
    std::string strDevice;
    int nPartition = 0; // 1-based, as listed
    uint64_t u64Start = 0;
    uint64_t u64Count = 0;
    std::string strFileSystem;
};

std::map<int, std::vector<_PARTITION_ITEM_>> ListPartitions()
{
    std::map<int, std::vector<_PARTITION_ITEM_>> all;
    CPartitionManager pm;
    pm.GetPartitionItems(all);
    return all;
}

void PrintPartitions(FILE* f, int disk, const std::vector<_PARTITION_ITEM_>& parts)
{
    fprintf(f, "disk %d  %s\n", disk, EscapeForTerminal(GetDiskDevicePath(disk)).c_str());
    for (size_t k = 0; k < parts.size(); ++k)
    {
        const _PARTITION_ITEM_& p = parts[k];
        fprintf(f, "  partition %zu  sectors %llu-%llu  %s  %s  %s\n", k + 1,
                (unsigned long long)p.u64StartSector, (unsigned long long)p.u64EndSector,
                GetFileSizeString((long long)(PartitionSectorCount(p) * 512)).c_str(),
                DescribeVolume(disk, p.u64StartSector, PartitionSectorCount(p)).strFileSystem.c_str(),
                EscapeForTerminal(PartitionNameToUtf8(p)).c_str());
    }
}

// Picks the volume; -1 when it is chosen, else the exit status.
int ChooseVolume(const Options& o, Volume& v)
{
    v.nDisk = o.strImage.empty() ? o.nDisk : 0;
    v.strDevice = GetDiskDevicePath(v.nDisk);
    const std::string shown =
        EscapeForTerminal(v.strDevice.empty() ? "disk " + std::to_string(v.nDisk) : v.strDevice);
    int fd = OpenDiskReadOnly(v.nDisk);
    if (fd < 0)
    {
        const int e = errno;
        if (e == ENOTBLK)
            fprintf(stderr, "tessaroo-cli: %s is not a regular file or a block device\n", shown.c_str());
        else
            fprintf(stderr, "tessaroo-cli: cannot open %s: %s\n", shown.c_str(), strerror(e));
        return EXIT_NO_VOLUME;
    }
    uint64_t bytes = 0;
    const bool sized = GetDeviceSize(fd, bytes);
    close(fd);
    const auto all = ListPartitions();
    auto it = all.find(v.nDisk);
    const std::vector<_PARTITION_ITEM_> parts =
        it == all.end() ? std::vector<_PARTITION_ITEM_>() : it->second;
    if (parts.empty())
    {
        // No table and no volume start that discovery knows: offer the whole
        // disk, and let the file-system test below say what it is.
        if (!sized || bytes < 512)
        {
            fprintf(stderr, "tessaroo-cli: %s is empty or its size cannot be read\n", shown.c_str());
            return EXIT_NO_VOLUME;
        }
        if (o.nPartition > 1)
        {
            fprintf(stderr, "tessaroo-cli: %s has no partition %d (it holds no partition table)\n",
                    shown.c_str(), o.nPartition);
            return EXIT_USAGE;
        }
        v.nPartition = 1;
        v.u64Start = 0;
        v.u64Count = bytes / 512;
    }
    else
    {
        if (o.nPartition == 0 && parts.size() > 1)
        {
            fprintf(stderr, "tessaroo-cli: %s has %zu partitions; choose one with --partition K:\n",
                    shown.c_str(), parts.size());
            PrintPartitions(stderr, v.nDisk, parts);
            return EXIT_NO_VOLUME;
        }
        const int k = o.nPartition ? o.nPartition : 1;
        if (size_t(k) > parts.size())
        {
            fprintf(stderr, "tessaroo-cli: %s has %zu partition%s; there is no partition %d\n", shown.c_str(),
                    parts.size(), parts.size() == 1 ? "" : "s", k);
            PrintPartitions(stderr, v.nDisk, parts);
            return EXIT_USAGE;
        }
        v.nPartition = k;
        v.u64Start = parts[size_t(k) - 1].u64StartSector;
        v.u64Count = PartitionSectorCount(parts[size_t(k) - 1]);
    }
    const VolumeDescription d = DescribeVolume(v.nDisk, v.u64Start, v.u64Count);
    v.strFileSystem = d.strFileSystem;
    if (!d.bReadable)
    {
        fprintf(stderr, "tessaroo-cli: cannot read the volume at sector %llu of %s\n",
                (unsigned long long)v.u64Start, shown.c_str());
        return EXIT_NO_VOLUME;
    }
    return -1;
}

struct Listing
{
    std::vector<__SEARCH_FILE_INFO__> vecHits;
    std::vector<std::string> vecPaths; // parent folder path of each hit, UTF-8
    unsigned int nScanStatus = 0;
};

int Interrupted()
{
    fprintf(stderr, "tessaroo-cli: interrupted\n");
    return EXIT_INTERRUPTED;
}

// Scans the volume and runs the listing for the kinds; -1 on success, else
// the exit status.
int ScanAndList(const Options& o, IFileRecoveryParse* engine, Listing& out)
{
    CStoppableStep stoppable;
    engine->InitCallBack(&ScanCallBack, nullptr, nullptr, 100);
    g_progress.Restart("Scanning ");
    out.nScanStatus = engine->ScanDevice(nullptr);
    g_progress.Clear();
    if (g_interrupted.load())
        return Interrupted();
    if (out.nScanStatus == STATUS_INVALID_PARAMETER)
    {
        // The boot sector passed the recognisers but gives no layout the
        // engine can walk (a FAT32 root cluster below 2, say): nothing was
        // scanned, which is not the same as nothing found.
        fprintf(stderr,
                "tessaroo-cli: the volume cannot be read: its boot sector gives no usable layout (see "
                "%sLog.txt)\n",
                EscapeForTerminal(GetSupportDir()).c_str());
        return EXIT_NO_VOLUME;
    }
    engine->InitSearchCallBack(&SearchCallBack, nullptr);
    std::wstring key = Utf8ToWide(BuildPatternList(o.nKinds).c_str());
    g_progress.Restart("Listing  ");
    engine->SearchFileNode(&key[0], out.vecHits);
    g_progress.Clear();
    if (g_interrupted.load())
        return Interrupted();
    std::vector<wchar_t> path(4096);
    out.vecPaths.reserve(out.vecHits.size());
    for (__SEARCH_FILE_INFO__& h : out.vecHits)
    {
        path[0] = 0;
        engine->GetFileNodeParentDirPath(&h, path.data(), int(path.size()));
        out.vecPaths.push_back(WideToUtf8(path.data()));
    }
    return -1;
}

std::string NodeName(const _FILE_NODE_& n)
{
    return std::string(n.szFileName, strnlen(n.szFileName, sizeof(n.szFileName)));
}

const char* KindOf(const _FILE_NODE_& n)
{
    return KindWordOfFolder(GetDirTypeByFileName(NodeName(n).c_str()));
}

Json VolumeJson(const Volume& v)
{
    Json j;
    j["disk"] = v.nDisk;
    j["device"] = v.strDevice;
    j["partition"] = v.nPartition;
    j["start_sector"] = v.u64Start;
    j["sector_count"] = v.u64Count;
    j["file_system"] = v.strFileSystem;
    return j;
}

Json FilesJson(const Listing& l)
{
    Json files = Json::array();
    for (size_t i = 0; i < l.vecHits.size(); ++i)
    {
        const __SEARCH_FILE_INFO__& h = l.vecHits[i];
        Json f;
        f["name"] = NodeName(h);
        f["path"] = l.vecPaths[i];
        f["size"] = h.u64FileSize;
        f["kind"] = KindOf(h);
        f["engine_type"] = h.uEngineType;
        f["data_health"] = h.bDataHealth != 0;
        f["record_sector"] = h.u64RecordSector;
        f["deleted"] = CRecoveryFlow::IsKnownDeleted(h) ? Json(true) : Json(nullptr);
        files.push_back(std::move(f));
    }
    return files;
}

void PrintVolumeLine(const Volume& v)
{
    printf("Volume: %s, partition %d, sectors %llu-%llu, %s\n", EscapeForTerminal(v.strDevice).c_str(),
           v.nPartition, (unsigned long long)v.u64Start, (unsigned long long)(v.u64Start + v.u64Count - 1),
           v.strFileSystem.c_str());
}

void PrintListing(const Listing& l)
{
    unsigned long long total = 0;
    for (size_t i = 0; i < l.vecHits.size(); ++i)
    {
        const __SEARCH_FILE_INFO__& h = l.vecHits[i];
        total += h.u64FileSize;
        printf("%-8s %12llu  %s%s%s%s\n", KindOf(h), (unsigned long long)h.u64FileSize,
               EscapeForTerminal(l.vecPaths[i]).c_str(), EscapeForTerminal(NodeName(h)).c_str(),
               CRecoveryFlow::IsKnownDeleted(h) ? "  deleted" : "",
               h.bDataHealth ? "" : "  (data overwritten)");
    }
    printf("Found %zu file%s (%s).\n", l.vecHits.size(), l.vecHits.size() == 1 ? "" : "s",
           GetFileSizeString((long long)total).c_str());
}

// A scanned volume: its engine and the listing of its files.
struct Scanned
{
    Volume v;
    std::unique_ptr<IFileRecoveryParse> engine;
    Listing l;
};

// Chooses the volume, opens its engine in a scan-log folder of this run's
// own, scans and lists. Returns an exit status, or -1 when the listing is
// ready.
int OpenScanAndList(const Options& o, Scanned& s)
{
    Volume& v = s.v;
    std::unique_ptr<IFileRecoveryParse>& engine = s.engine;
    int rc = ChooseVolume(o, v);
    if (rc >= 0)
        return rc;
    engine.reset(CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
        v.nDisk, (long long)v.u64Start, (long long)v.u64Count, L'C',
        o.bFast ? RECOVERY_TYPE_FAST : RECOVERY_TYPE_PROFESSIONAL));
    if (!engine && o.bFast)
    {
        fprintf(stderr,
                "tessaroo-cli: partition %d of %s is not a FAT volume or an NTFS volume (%s); the quick scan "
                "cannot read it\n",
                v.nPartition, EscapeForTerminal(v.strDevice).c_str(), v.strFileSystem.c_str());
        return EXIT_NO_VOLUME;
    }
    if (!engine)
    {
        fprintf(stderr, "tessaroo-cli: cannot read partition %d of %s\n", v.nPartition,
                EscapeForTerminal(v.strDevice).c_str());
        return EXIT_NO_VOLUME;
    }
    if (o.bFast)
        CLogFileManager::GetInstance()->AddDirIndex();
    else if (CProfessionalRecovery* deep = dynamic_cast<CProfessionalRecovery*>(engine.get()))
    {
        // A deep scan starts afresh unless asked to go on from where a
        // stopped scan of this volume left off; it takes its folder itself.
        if (!o.bResume)
            deep->SetNotLoadLogFile();
        else if (!deep->IsFindLogFile())
            fprintf(stderr,
                    "tessaroo-cli: no stopped scan of this volume to go on from; scanning it whole\n");
    }
    return ScanAndList(o, engine.get(), s.l);
}

struct RecoverView
{
    bool bJson;
    size_t nTotal;
    size_t nDone;
};

void RecoveryObserver(void* ctx, int percent, int scale, int status, const std::string& target)
{
    RecoverView* rv = static_cast<RecoverView*>(ctx);
    if (scale != 100)
        return;
    if (percent < 100)
    {
        g_progress.Draw(percent, std::to_string(rv->nDone + 1) + "/" + std::to_string(rv->nTotal));
        return;
    }
    ++rv->nDone;
    g_progress.Clear();
    if (rv->bJson)
        return;
    const std::string shown = EscapeForTerminal(target);
    if (status == 0)
        printf("recovered  %s\n", shown.c_str());
    else if (status == int(STATUS_READ_FAULT))
        printf("INCOMPLETE %s  (%d: %s)\n", shown.c_str(), status, StatusText(status).c_str());
    else
        printf("FAILED     %s  (%d: %s)\n", shown.c_str(), status, StatusText(status).c_str());
    fflush(stdout);
}
} // namespace

void RequestRecoveryStop()
{
    if (CRecoveryFlow* flow = g_flow.load())
        flow->RequestStop();
}

std::string EscapeForTerminal(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text)
    {
        if (c < 0x20 || c == 0x7F)
        {
            char esc[5];
            snprintf(esc, sizeof(esc), "\\x%02X", c);
            out += esc;
        }
        else
            out += char(c);
    }
    return out;
}

int CmdList(const Options& o)
{
    const auto all = ListPartitions();
    if (o.bJson)
    {
        Json disks = Json::array();
        for (const auto& d : all)
        {
            Json disk;
            disk["disk"] = d.first;
            disk["device"] = GetDiskDevicePath(d.first);
            Json parts = Json::array();
            for (size_t k = 0; k < d.second.size(); ++k)
            {
                const _PARTITION_ITEM_& p = d.second[k];
                Json part;
                part["partition"] = k + 1;
                part["start_sector"] = p.u64StartSector;
                part["end_sector"] = p.u64EndSector;
                part["sector_count"] = PartitionSectorCount(p);
                part["name"] = PartitionNameToUtf8(p);
                part["file_system"] = DescribeVolume(d.first, p.u64StartSector, PartitionSectorCount(p)).strFileSystem;
                parts.push_back(std::move(part));
            }
            disk["partitions"] = std::move(parts);
            disks.push_back(std::move(disk));
        }
        Json j;
        j["disks"] = std::move(disks);
        PrintJson(j);
        return EXIT_DONE;
    }
    if (all.empty())
        printf("No disks with partitions were found (reading disks usually needs root; set TESSAROO_DISKS to "
               "list image files).\n");
    for (const auto& d : all)
        PrintPartitions(stdout, d.first, d.second);
    return EXIT_DONE;
}

int CmdScan(const Options& o)
{
    Scanned s;
    const int rc = OpenScanAndList(o, s);
    if (rc >= 0)
        return rc;
    const Volume& v = s.v;
    const Listing& l = s.l;
    if (o.bJson)
    {
        Json j;
        j["command"] = "scan";
        j["volume"] = VolumeJson(v);
        j["status"] = l.nScanStatus;
        j["files"] = FilesJson(l);
        j["file_count"] = l.vecHits.size();
        PrintJson(j);
    }
    else
    {
        PrintVolumeLine(v);
        PrintListing(l);
    }
    return EXIT_DONE;
}

int CmdRecover(const Options& o)
{
    Scanned s;
    const int rc = OpenScanAndList(o, s);
    if (rc >= 0)
        return rc;
    const Volume& v = s.v;
    const Listing& l = s.l;
    if (!o.bJson)
    {
        PrintVolumeLine(v);
        printf("Found %zu file%s to recover into %s\n", l.vecHits.size(), l.vecHits.size() == 1 ? "" : "s",
               EscapeForTerminal(o.strOut).c_str());
    }
    CRecoveryFlow flow;
    RecoverView view = {o.bJson, l.vecHits.size(), 0};
    flow.SetObserver(&RecoveryObserver, &view);
    CRecoveryFlow::Outcome outcome;
    {
        CStoppableStep stoppable;
        g_flow.store(&flow);
        if (g_interrupted.load())
            flow.RequestStop();
        ScannedVolume sv;
        sv.strDevicePath = v.strDevice;
        sv.u64StartSector = v.u64Start;
        sv.u64SectorCount = v.u64Count;
        g_progress.Restart("Recovering");
        const std::vector<_FILE_NODE_> files(l.vecHits.begin(), l.vecHits.end());
        outcome = flow.RecoveryProcess(s.engine.get(), files, o.strOut, sv);
        g_flow.store(nullptr);
        g_progress.Clear();
    }
    if (outcome == CRecoveryFlow::OUTCOME_OVERLAP || outcome == CRecoveryFlow::OUTCOME_BAD_DESTINATION)
    {
        fprintf(stderr, "tessaroo-cli: %s\n", EscapeForTerminal(flow.GetMessage()).c_str());
        return EXIT_NO_VOLUME;
    }
    const size_t ok = flow.GetRecoveredCount(), failed = flow.GetFailedCount();
    if (o.bJson)
    {
        Json results = Json::array();
        for (const RecoveryResult& r : flow.GetResults())
        {
            Json res;
            res["name"] = r.strName;
            res["path"] = r.nIndex < l.vecPaths.size() ? l.vecPaths[r.nIndex] : std::string();
            res["target"] = r.strTarget;
            res["status"] = r.nStatus;
            res["recovered"] = r.nStatus == 0;
            // Kept, but cut where the volume's data ran out.
            res["incomplete"] = r.nStatus == int(STATUS_READ_FAULT);
            if (r.nStatus != 0)
                res["error"] = StatusText(r.nStatus);
            results.push_back(std::move(res));
        }
        Json j;
        j["command"] = "recover";
        j["volume"] = VolumeJson(v);
        j["status"] = l.nScanStatus;
        j["destination"] = o.strOut;
        j["files"] = FilesJson(l);
        j["results"] = std::move(results);
        j["recovered"] = ok;
        j["failed"] = failed;
        j["interrupted"] = outcome == CRecoveryFlow::OUTCOME_STOPPED;
        PrintJson(j);
    }
    else
        printf("recovered %zu, failed %zu\n", ok, failed);
    if (outcome == CRecoveryFlow::OUTCOME_STOPPED || g_interrupted.load())
    {
        fprintf(stderr, "tessaroo-cli: interrupted; the files recovered whole so far stay in %s\n",
                EscapeForTerminal(o.strOut).c_str());
        return EXIT_INTERRUPTED;
    }
    return failed ? EXIT_SOME_FAILED : EXIT_DONE;
}
} // namespace cli
} // namespace tessaroo
