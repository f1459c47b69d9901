// tessaroo-cli: the command-line front end. Lists disks and partitions,
// scans a volume (a disk's partition, or an image file) for deleted files,
// and recovers them into a folder, sorted by kind, with the same flow the
// desktop application uses.
#include "cli/CJsonWriter.h"
#include "recovery/CRecoveryFlow.h"
#include "recovery/KindPatterns.h"
#include "core/CDiskReader.h"
#include "engines/CFileRecoveryFactory.h"
#include "core/Log.h"
#include "core/Platform.h"
#include "core/Portability.h"
#include "core/Status.h"
#include "partition/CPartitionManager.h"
#include "store/CLogFileManager.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <pthread.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tessaroo;

namespace
{
enum ExitCode
{
    EXIT_DONE = 0,
    EXIT_USAGE = 1,
    EXIT_NO_VOLUME = 2,
    EXIT_SOME_FAILED = 4,
    EXIT_INTERRUPTED = 130,
};

const char* const USAGE =
    "usage:\n"
    "  tessaroo-cli list [--json]\n"
    "  tessaroo-cli scan (--image FILE | --disk N) [--partition K] [--kinds LIST] [--json]\n"
    "  tessaroo-cli recover (--image FILE | --disk N) [--partition K] [--kinds LIST] --out DIR [--json]\n"
    "\n"
    "  --image FILE   scan an image file (it becomes disk 0)\n"
    "  --disk N       scan disk number N, as 'list' shows it\n"
    "  --partition K  the K-th partition of the disk (from 1); needed when it has several\n"
    "  --kinds LIST   comma-separated: photo, music, video, document, archive, other (default: all)\n"
    "  --out DIR      folder to recover into (made when missing); files land in DIR/photo, DIR/audio, ...\n"
    "  --json         print one JSON document instead of text\n"
    "\n"
    "exit status: 0 all listed files recovered, 4 some failed, 2 the device or volume cannot be\n"
    "opened or has no engine, 1 usage error, 130 interrupted\n";

struct Options
{
    std::string strCommand;
    bool bJson = false;
    std::string strImage;
    int nDisk = -1;
    int nPartition = 0; // 0: not given
    unsigned nKinds = KIND_ALL;
    std::string strOut;
};

std::atomic<bool> g_interrupted(false);
std::atomic<CRecoveryFlow*> g_flow(nullptr);
FILE* g_log = nullptr;

void LogToFile(const char* message)
{
    if (g_log)
    {
        fputs(message, g_log);
        fflush(g_log);
    }
}

int UsageError(const std::string& message)
{
    fprintf(stderr, "tessaroo-cli: %s\n\n%s", message.c_str(), USAGE);
    return EXIT_USAGE;
}

bool ParseInt(const char* s, int& v)
{
    if (!s || !*s)
        return false;
    char* end = nullptr;
    errno = 0;
    long n = strtol(s, &end, 10);
    if (errno || *end || n < 0 || n > 1000000)
        return false;
    v = int(n);
    return true;
}

// Returns -1 when the options are sound, else the exit status.
int ParseArgs(int argc, char** argv, Options& o)
{
    if (argc < 2)
        return UsageError("no command given");
    o.strCommand = argv[1];
    if (o.strCommand == "-h" || o.strCommand == "--help" || o.strCommand == "help")
    {
        fputs(USAGE, stdout);
        return EXIT_DONE;
    }
    if (o.strCommand != "list" && o.strCommand != "scan" && o.strCommand != "recover")
        return UsageError("unknown command '" + o.strCommand + "'");
    bool kindsGiven = false;
    for (int i = 2; i < argc; ++i)
    {
        const std::string a = argv[i];
        auto value = [&](const char*& v) -> bool
        {
            if (i + 1 >= argc)
                return false;
            v = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (a == "--json")
            o.bJson = true;
        else if (o.strCommand == "list")
            return UsageError("'list' takes only --json, not '" + a + "'");
        else if (a == "--image")
        {
            if (!value(v) || !*v)
                return UsageError("--image needs a file");
            o.strImage = v;
        }
        else if (a == "--disk")
        {
            if (!value(v) || !ParseInt(v, o.nDisk) || o.nDisk >= MAX_DISK_COUNT)
                return UsageError("--disk needs a disk number from 0 to 127");
        }
        else if (a == "--partition")
        {
            if (!value(v) || !ParseInt(v, o.nPartition) || o.nPartition < 1)
                return UsageError("--partition needs a partition number from 1");
        }
        else if (a == "--kinds")
        {
            std::string bad;
            if (!value(v) || !ParseKindList(v, o.nKinds, bad))
                return UsageError("--kinds takes photo, music, video, document, archive, other; not '" +
                                  (v ? bad : std::string()) + "'");
            kindsGiven = true;
        }
        else if (a == "--out" && o.strCommand == "recover")
        {
            if (!value(v) || !*v)
                return UsageError("--out needs a folder");
            o.strOut = v;
        }
        else
            return UsageError("unknown option '" + a + "' for '" + o.strCommand + "'");
    }
    (void)kindsGiven;
    if (o.strCommand == "list")
        return -1;
    if (o.strImage.empty() == (o.nDisk < 0))
        return UsageError("give exactly one of --image FILE and --disk N");
    if (o.strCommand == "recover" && o.strOut.empty())
        return UsageError("'recover' needs --out DIR");
    if (o.strImage.find(':') != std::string::npos)
        return UsageError("the image path must not contain ':' (it separates the disk list)");
    return -1;
}

// Ctrl-C and termination requests are taken by a thread that waits for
// them, so no handler runs inside the engine: the first one asks the engine
// to stop through its callbacks, a second one ends the program at once.
void* SignalThread(void* arg)
{
    sigset_t* set = static_cast<sigset_t*>(arg);
    for (;;)
    {
        int sig = 0;
        if (sigwait(set, &sig) != 0)
            continue;
        if (g_interrupted.exchange(true))
            _exit(EXIT_INTERRUPTED);
        if (CRecoveryFlow* flow = g_flow.load())
            flow->RequestStop();
        static const char msg[] = "\ntessaroo-cli: stopping (press Ctrl-C again to quit at once)\n";
        ssize_t w = write(2, msg, sizeof(msg) - 1);
        (void)w;
    }
    return nullptr;
}

void StartSignalThread()
{
    static sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t t;
    if (pthread_create(&t, nullptr, SignalThread, &set) == 0)
        pthread_detach(t);
}

// Scan logs and preview files: TESSAROO_SUPPORT_DIR when set, the system
// folder for root, otherwise the user's cache folder, so that anyone can
// recover from an image file.
void SetUpSupportDir()
{
    SelectSupportDir(geteuid() == 0);
    MakeDirs(GetScanLogRoot(), 0755);
    g_log = fopen((GetSupportDir() + "Log.txt").c_str(), "ae");
    SetLogSink(g_log ? &LogToFile : nullptr);
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
        if (percent < 0)
            percent = 0;
        if (percent > 100)
            percent = 100;
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
        extra += "sectors " + std::to_string(current) + "/" + std::to_string(total) + "  ";
    if (files)
        extra += "files " + std::to_string(files) + "  ";
    if (secondsLeft >= 0)
        extra += "ETA " + GetTimeString(secondsLeft);
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
        return status > 0 ? std::string(strerror(status)) : "error " + std::to_string(status);
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
    bool bIsFat = false;
};

// The file system of the volume at start of disk, as the factory names it.
std::string ProbeFileSystem(int disk, uint64_t start, bool& isFat, bool& readable)
{
    const VolumeDescription d = DescribeVolume(disk, start);
    isFat = d.kind == VolumeKind::Fat;
    readable = d.bReadable;
    return d.strFileSystem;
}

std::map<int, std::vector<_PARTITION_ITEM_>> ListPartitions()
{
    std::map<int, std::vector<_PARTITION_ITEM_>> all;
    CPartitionManager pm;
    pm.GetPartitionItems(all);
    return all;
}

void PrintPartitions(FILE* f, int disk, const std::vector<_PARTITION_ITEM_>& parts)
{
    fprintf(f, "disk %d  %s\n", disk, GetDiskDevicePath(disk).c_str());
    for (size_t k = 0; k < parts.size(); ++k)
    {
        const _PARTITION_ITEM_& p = parts[k];
        bool isFat = false, readable = false;
        const std::string fs = ProbeFileSystem(disk, p.u64StartSector, isFat, readable);
        fprintf(f, "  partition %zu  sectors %llu-%llu  %s  %s  %s\n", k + 1,
                (unsigned long long)p.u64StartSector, (unsigned long long)p.u64EndSector,
                GetFileSizeString((long long)(PartitionSectorCount(p) * 512)).c_str(), fs.c_str(),
                PartitionNameToUtf8(p).c_str());
    }
}

int CmdList(const Options& o)
{
    const auto all = ListPartitions();
    if (o.bJson)
    {
        CJsonWriter j;
        j.BeginObject();
        j.Key("disks");
        j.BeginArray();
        for (const auto& d : all)
        {
            j.BeginObject();
            j.Field("disk", d.first);
            j.Field("device", GetDiskDevicePath(d.first));
            j.Key("partitions");
            j.BeginArray();
            for (size_t k = 0; k < d.second.size(); ++k)
            {
                const _PARTITION_ITEM_& p = d.second[k];
                bool isFat = false, readable = false;
                j.BeginObject();
                j.Field("partition", (unsigned long long)(k + 1));
                j.Field("start_sector", (unsigned long long)p.u64StartSector);
                j.Field("end_sector", (unsigned long long)p.u64EndSector);
                j.Field("sector_count", (unsigned long long)PartitionSectorCount(p));
                j.Field("name", PartitionNameToUtf8(p));
                j.Field("file_system", ProbeFileSystem(d.first, p.u64StartSector, isFat, readable));
                j.EndObject();
            }
            j.EndArray();
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
        printf("%s\n", j.Text().c_str());
        return EXIT_DONE;
    }
    if (all.empty())
        printf("No disks with partitions were found (reading disks usually needs root; set TESSAROO_DISKS to "
               "list image files).\n");
    for (const auto& d : all)
        PrintPartitions(stdout, d.first, d.second);
    return EXIT_DONE;
}

// Picks the volume; -1 when it is chosen, else the exit status.
int ChooseVolume(const Options& o, Volume& v)
{
    v.nDisk = o.strImage.empty() ? o.nDisk : 0;
    v.strDevice = GetDiskDevicePath(v.nDisk);
    int fd = OpenDiskReadOnly(v.nDisk);
    if (fd < 0)
    {
        const int e = errno;
        fprintf(stderr, "tessaroo-cli: cannot open %s: %s\n",
                v.strDevice.empty() ? ("disk " + std::to_string(v.nDisk)).c_str() : v.strDevice.c_str(),
                strerror(e));
        return EXIT_NO_VOLUME;
    }
    uint64_t bytes = 0;
    const bool sized = GetDeviceSize(fd, bytes);
    close(fd);
    const auto all = ListPartitions();
    auto it = all.find(v.nDisk);
    std::vector<_PARTITION_ITEM_> parts = it == all.end() ? std::vector<_PARTITION_ITEM_>() : it->second;
    if (parts.empty())
    {
        // No table and no volume start that discovery knows: offer the whole
        // disk, and let the file-system test below say what it is.
        if (!sized || bytes < 512)
        {
            fprintf(stderr, "tessaroo-cli: %s is empty or its size cannot be read\n", v.strDevice.c_str());
            return EXIT_NO_VOLUME;
        }
        if (o.nPartition > 1)
        {
            fprintf(stderr, "tessaroo-cli: %s has no partition %d (it holds no partition table)\n",
                    v.strDevice.c_str(), o.nPartition);
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
                    v.strDevice.c_str(), parts.size());
            PrintPartitions(stderr, v.nDisk, parts);
            return EXIT_NO_VOLUME;
        }
        const int k = o.nPartition ? o.nPartition : 1;
        if (size_t(k) > parts.size())
        {
            fprintf(stderr, "tessaroo-cli: %s has %zu partition%s; there is no partition %d\n",
                    v.strDevice.c_str(), parts.size(), parts.size() == 1 ? "" : "s", k);
            PrintPartitions(stderr, v.nDisk, parts);
            return EXIT_USAGE;
        }
        v.nPartition = k;
        v.u64Start = parts[size_t(k) - 1].u64StartSector;
        v.u64Count = PartitionSectorCount(parts[size_t(k) - 1]);
    }
    bool readable = false;
    v.strFileSystem = ProbeFileSystem(v.nDisk, v.u64Start, v.bIsFat, readable);
    if (!readable)
    {
        fprintf(stderr, "tessaroo-cli: cannot read the volume at sector %llu of %s\n",
                (unsigned long long)v.u64Start, v.strDevice.c_str());
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

// Scans the volume and runs the listing for the kinds; -1 on success, else
// the exit status.
int ScanAndList(const Options& o, const Volume& v, IFileRecoveryParse* engine, Listing& out)
{
    engine->InitCallBack(&ScanCallBack, nullptr, nullptr, 100);
    g_progress.Restart("Scanning ");
    out.nScanStatus = engine->ScanDevice(nullptr);
    g_progress.Clear();
    if (g_interrupted.load())
    {
        fprintf(stderr, "tessaroo-cli: interrupted\n");
        return EXIT_INTERRUPTED;
    }
    engine->InitSearchCallBack(&SearchCallBack, nullptr);
    std::wstring key = Utf8ToWide(BuildPatternList(o.nKinds).c_str());
    g_progress.Restart("Listing  ");
    engine->SearchFileNode(&key[0], out.vecHits);
    g_progress.Clear();
    if (g_interrupted.load())
    {
        fprintf(stderr, "tessaroo-cli: interrupted\n");
        return EXIT_INTERRUPTED;
    }
    std::vector<wchar_t> path(4096);
    out.vecPaths.reserve(out.vecHits.size());
    for (__SEARCH_FILE_INFO__& h : out.vecHits)
    {
        path[0] = 0;
        engine->GetFileNodeParentDirPath(&h, path.data(), int(path.size()));
        out.vecPaths.push_back(WideToUtf8(path.data()));
    }
    (void)v;
    return -1;
}

std::string NodeName(const _FILE_NODE_& n)
{
    char name[FILE_NAME_SIZE];
    memcpy(name, n.szFileName, sizeof(name));
    name[sizeof(name) - 1] = 0;
    return name;
}

const char* KindOf(const _FILE_NODE_& n)
{
    char name[FILE_NAME_SIZE];
    memcpy(name, n.szFileName, sizeof(name));
    name[sizeof(name) - 1] = 0;
    return KindWordOfFolder(GetDirTypeByFileName(name));
}

// Files the fast FAT engine lists are deleted or lie in a deleted folder.
bool IsKnownDeleted(const _FILE_NODE_& n)
{
    return n.uEngineType == ENGINE_TYPE_FAST_FAT;
}

void WriteVolumeJson(CJsonWriter& j, const Volume& v)
{
    j.Key("volume");
    j.BeginObject();
    j.Field("disk", v.nDisk);
    j.Field("device", v.strDevice);
    j.Field("partition", v.nPartition);
    j.Field("start_sector", (unsigned long long)v.u64Start);
    j.Field("sector_count", (unsigned long long)v.u64Count);
    j.Field("file_system", v.strFileSystem);
    j.EndObject();
}

void WriteFilesJson(CJsonWriter& j, const Listing& l)
{
    j.Key("files");
    j.BeginArray();
    for (size_t i = 0; i < l.vecHits.size(); ++i)
    {
        const __SEARCH_FILE_INFO__& h = l.vecHits[i];
        j.BeginObject();
        j.Field("name", NodeName(h));
        j.Field("path", l.vecPaths[i]);
        j.Field("size", (unsigned long long)h.u64FileSize);
        j.Field("kind", KindOf(h));
        j.Field("engine_type", (unsigned int)h.uEngineType);
        j.Field("data_health", h.bDataHealth != 0);
        j.Field("record_sector", (unsigned long long)h.u64RecordSector);
        j.Key("deleted");
        if (IsKnownDeleted(h))
            j.Bool(true);
        else
            j.Null();
        j.EndObject();
    }
    j.EndArray();
}

void PrintVolumeLine(FILE* f, const Volume& v)
{
    fprintf(f, "Volume: %s, partition %d, sectors %llu-%llu, %s\n", v.strDevice.c_str(), v.nPartition,
            (unsigned long long)v.u64Start, (unsigned long long)(v.u64Start + v.u64Count - 1),
            v.strFileSystem.c_str());
}

void PrintListing(const Listing& l)
{
    unsigned long long total = 0;
    for (size_t i = 0; i < l.vecHits.size(); ++i)
    {
        const __SEARCH_FILE_INFO__& h = l.vecHits[i];
        total += h.u64FileSize;
        printf("%-8s %12llu  %s%s%s%s\n", KindOf(h), (unsigned long long)h.u64FileSize, l.vecPaths[i].c_str(),
               NodeName(h).c_str(), IsKnownDeleted(h) ? "  deleted" : "",
               h.bDataHealth ? "" : "  (data overwritten)");
    }
    printf("Found %zu file%s (%s).\n", l.vecHits.size(), l.vecHits.size() == 1 ? "" : "s",
           GetFileSizeString((long long)total).c_str());
}

// Opens the engine for the chosen volume; null with the exit status set.
std::unique_ptr<IFileRecoveryParse> OpenEngine(const Volume& v, int& exitCode)
{
    std::unique_ptr<IFileRecoveryParse> engine(
        CFileRecoveryFactory::GetInstance()->CreateFileRecoveryInstance(
            v.nDisk, (long long)v.u64Start, (long long)v.u64Count, L'C', RECOVERY_TYPE_FAST));
    if (!engine)
    {
        fprintf(stderr, "tessaroo-cli: no engine for partition %d of %s\n", v.nPartition,
                v.strDevice.c_str());
        exitCode = EXIT_NO_VOLUME;
    }
    return engine;
}

// The part scan and recover share: choose the volume, open its engine in a
// fresh scan-log folder, scan and list. Returns an exit status, or -1 when
// the listing is ready.
int OpenScanAndList(const Options& o, Volume& v, std::unique_ptr<IFileRecoveryParse>& engine, Listing& l)
{
    int rc = ChooseVolume(o, v);
    if (rc >= 0)
        return rc;
    int ec = 0;
    engine = OpenEngine(v, ec);
    if (!engine)
        return ec;
    // Each run starts a fresh scan-log folder.
    CLogFileManager::GetInstance()->AddDirIndex();
    return ScanAndList(o, v, engine.get(), l);
}

int CmdScan(const Options& o)
{
    Volume v;
    std::unique_ptr<IFileRecoveryParse> engine;
    Listing l;
    int rc = OpenScanAndList(o, v, engine, l);
    if (rc >= 0)
        return rc;
    if (o.bJson)
    {
        CJsonWriter j;
        j.BeginObject();
        j.Field("command", "scan");
        WriteVolumeJson(j, v);
        j.Field("status", l.nScanStatus);
        WriteFilesJson(j, l);
        j.Field("file_count", (unsigned long long)l.vecHits.size());
        j.EndObject();
        printf("%s\n", j.Text().c_str());
    }
    else
    {
        PrintVolumeLine(stdout, v);
        PrintListing(l);
    }
    return EXIT_DONE;
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
    if (status == 0)
        printf("recovered  %s\n", target.c_str());
    else
        printf("FAILED     %s  (%d: %s)\n", target.c_str(), status, StatusText(status).c_str());
    fflush(stdout);
}

int CmdRecover(const Options& o)
{
    Volume v;
    std::unique_ptr<IFileRecoveryParse> engine;
    Listing l;
    int rc = OpenScanAndList(o, v, engine, l);
    if (rc >= 0)
        return rc;
    if (!o.bJson)
    {
        PrintVolumeLine(stdout, v);
        printf("Found %zu file%s to recover into %s\n", l.vecHits.size(), l.vecHits.size() == 1 ? "" : "s",
               o.strOut.c_str());
    }
    CRecoveryFlow flow;
    RecoverView view = {o.bJson, l.vecHits.size(), 0};
    flow.SetObserver(&RecoveryObserver, &view);
    g_flow.store(&flow);
    if (g_interrupted.load())
        flow.RequestStop();
    ScannedVolume sv;
    sv.strDevicePath = v.strDevice;
    sv.u64StartSector = v.u64Start;
    sv.u64SectorCount = v.u64Count;
    g_progress.Restart("Recovering");
    std::vector<_FILE_NODE_> files(l.vecHits.begin(), l.vecHits.end());
    const CRecoveryFlow::Outcome outcome = flow.RecoveryProcess(engine.get(), files, o.strOut, sv);
    g_flow.store(nullptr);
    g_progress.Clear();
    if (outcome == CRecoveryFlow::OUTCOME_OVERLAP || outcome == CRecoveryFlow::OUTCOME_BAD_DESTINATION)
    {
        fprintf(stderr, "tessaroo-cli: %s\n", flow.GetMessage().c_str());
        return EXIT_NO_VOLUME;
    }
    const size_t ok = flow.GetRecoveredCount(), failed = flow.GetFailedCount();
    if (o.bJson)
    {
        CJsonWriter j;
        j.BeginObject();
        j.Field("command", "recover");
        WriteVolumeJson(j, v);
        j.Field("status", l.nScanStatus);
        j.Field("destination", o.strOut);
        WriteFilesJson(j, l);
        j.Key("results");
        j.BeginArray();
        for (const RecoveryResult& r : flow.GetResults())
        {
            j.BeginObject();
            j.Field("name", r.strName);
            j.Field("path", r.nIndex < l.vecPaths.size() ? l.vecPaths[r.nIndex] : std::string());
            j.Field("target", r.strTarget);
            j.Field("status", r.nStatus);
            j.Field("recovered", r.nStatus == 0);
            if (r.nStatus != 0)
                j.Field("error", StatusText(r.nStatus));
            j.EndObject();
        }
        j.EndArray();
        j.Field("recovered", (unsigned long long)ok);
        j.Field("failed", (unsigned long long)failed);
        j.Field("interrupted", outcome == CRecoveryFlow::OUTCOME_STOPPED);
        j.EndObject();
        printf("%s\n", j.Text().c_str());
    }
    else
        printf("recovered %zu, failed %zu\n", ok, failed);
    if (outcome == CRecoveryFlow::OUTCOME_STOPPED || g_interrupted.load())
    {
        fprintf(stderr, "tessaroo-cli: interrupted; the files written so far stay in %s\n", o.strOut.c_str());
        return EXIT_INTERRUPTED;
    }
    return failed ? EXIT_SOME_FAILED : EXIT_DONE;
}
} // namespace

int main(int argc, char** argv)
{
    Options o;
    int rc = ParseArgs(argc, argv, o);
    if (rc >= 0)
        return rc;
    StartSignalThread();
    // An image given on the command line is disk 0, as TESSAROO_DISKS would
    // make it.
    if (!o.strImage.empty())
        setenv("TESSAROO_DISKS", o.strImage.c_str(), 1);
    SetUpSupportDir();
    if (o.strCommand == "list")
        return CmdList(o);
    if (o.strCommand == "scan")
        return CmdScan(o);
    return CmdRecover(o);
}
