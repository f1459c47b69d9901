// The recovery run shared by the command line and the desktop application:
// every selected file is copied by its engine into the destination's
// subfolder for its kind, under a name no existing file has, and the
// engine's reports with percent 100 become the per-file results.
//
// Paths and node names are UTF-8; a node's name is made a safe path
// component here, where the target path is formed.
#pragma once

#include "core/IFileRecoveryParse.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaroo
{
// One file's outcome: status 0 for a file recovered whole, otherwise the
// engine's code (30 an incomplete file, -9527 a stopped one, an errno...).
struct RecoveryResult
{
    size_t nIndex = 0;     // position of the file in the list given to Run
    std::string strName;   // the node's name, UTF-8
    std::string strTarget; // the file written (or that was to be written), UTF-8
    int nStatus = 0;
};

// Where the scanned volume lies, for the overlap check.
struct ScannedVolume
{
    std::string strDevicePath; // device or image file of the disk
    uint64_t u64StartSector = 0;
    uint64_t u64SectorCount = 0;
};

class CRecoveryFlow
{
  public:
    enum Outcome
    {
        OUTCOME_DONE = 0,        // every file was tried (some may have failed)
        OUTCOME_STOPPED,         // a stop request ended the run
        OUTCOME_BAD_DESTINATION, // the destination cannot be made or used
        OUTCOME_OVERLAP,         // the destination lies on the scanned volume
    };

    // Receives every engine report (percent, scale 100, status, target) and,
    // after the last file of a run that was not stopped, the closing report
    // (100, 1000, 0, ""). Runs on the thread that calls Run.
    typedef void (*ObserverFunc)(void* ctx, int percent, int scale, int status, const std::string& target);

    CRecoveryFlow();

    void SetObserver(ObserverFunc observer, void* ctx);
    // Asks a running Run to stop after the current file's next report. Safe
    // from any thread.
    void RequestStop() { m_bStop.store(true); }
    bool IsStopRequested() const { return m_bStop.load(); }

    // Recovers files (file nodes of engine) into destination, which is made
    // when missing. The engine's recovery callback is set to this flow for
    // the run. Refuses, writing nothing, when destination lies on volume.
    Outcome RecoveryProcess(IFileRecoveryParse* engine, const std::vector<_FILE_NODE_>& files,
                            const std::string& destination, const ScannedVolume& volume);

    const std::vector<RecoveryResult>& GetResults() const { return m_results; }
    size_t GetRecoveredCount() const;
    size_t GetFailedCount() const;
    // Why the last run was refused (empty otherwise).
    const std::string& GetMessage() const { return m_strMessage; }

    // The target path of a file in destination: destination/<kind>/<name>,
    // with the name made safe and short enough for one path component.
    static std::string FormTargetPath(const std::string& destination, const _FILE_NODE_& node);
    // Whether the node is known to be a deleted file: the quick engines
    // list nothing else (deleted entries and the files of deleted folders);
    // of other nodes it cannot be told.
    static bool IsKnownDeleted(const _FILE_NODE_& node)
    {
        return node.uEngineType == ENGINE_TYPE_FAST_FAT || node.uEngineType == ENGINE_TYPE_FAST_NTFS;
    }
    // The node's name as one target file name: made safe, UTF-8, cut to
    // leave room for the "(n)" that makes it free.
    static std::string TargetNameOf(const _FILE_NODE_& node);

  private:
    static int RecoveryCallBack(void* ctx, int percent, int scale, int status, wchar_t* targetPath);
    int OnReport(int percent, int scale, int status, const wchar_t* targetPath);

    ObserverFunc m_pObserver;
    void* m_pObserverCtx;
    std::atomic<bool> m_bStop;
    std::vector<RecoveryResult> m_results;
    std::string m_strMessage;
    size_t m_nCurrent;
    bool m_bCurrentReported;
    std::string m_strCurrentName;
};
} // namespace tessaroo
