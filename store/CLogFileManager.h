// Hands out the numbered scan-log folders that hold the result stores of a
// scan, and keeps the scan index ("config" below the scan-log root): which
// folder belongs to which volume and how far its deep sweep got, so that a
// later deep scan of the same, unchanged volume can reopen its stores.
//
// Process-wide; used by the worker thread and the stores' Init, one scan at
// a time. Several processes may share the scan-log root (two command-line
// runs, a script beside the window): every change of the index is a
// read-modify-write under an exclusive lock on "config.lock", and the
// folder a run writes into is held by a lock on its ".lock" file for the
// run's life, so no run deletes, reuses or reads another live run's folder.
#pragma once

#include "store/LogFileInfo.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CLogFileManager
{
  public:
    // Size of every path buffer this class reads or writes.
    static constexpr size_t PATH_SIZE = 256;

    // The singleton, created (and Init run) on first use.
    static CLogFileManager* GetInstance();

    // Forgets everything held and reloads the scan index from the scan-log
    // root (tessaroo::GetScanLogRoot(), which follows TESSAROO_SUPPORT_DIR).
    // A "config.tmp" left by an interrupted save is renamed to "config"
    // first when "config" is missing. Returns 0; 87 when the config is
    // missing, empty or cannot be opened; 30 when it cannot be read whole;
    // else the error number of a failed size query. On any failure the list
    // is empty and the folder index 0; complete records read before a short
    // read are kept.
    unsigned int Init();

    // Writes into path (PATH_SIZE bytes) the folder the stores are to use
    // now, ending in '/': the reused log's folder when LoadRecoveryLogInfo
    // found one, else root + decimal folder index + "/". Returns 0, or 87
    // (path set to "") when path is null or the folder name does not fit.
    unsigned int GetLogFileDirPath(char* path);

    // Opens a fresh folder for this run: the first index after the index's
    // last whose folder can be made with mkdir, or exists but is held by no
    // live run (it is then removed, with any record naming it, and made
    // again empty). The folder is held for the run until the next
    // AddDirIndex, ReduceDirIndex or the end of the process.
    void AddDirIndex();
    // Gives back the folder of the last AddDirIndex (a scan that ended in
    // its fast phase); the next AddDirIndex empties it again.
    void ReduceDirIndex();

    // Looks for the record of the volume (disk, start, count). When one
    // exists, the free-space figure of deviceName still matches and no
    // other live run holds its folder, marks it as the log to reuse (held
    // for this run), copies it to info (when not null) and returns 1. A
    // record whose volume changed is deleted with its folder; a record
    // naming anything but a numbered folder of the root is dropped. Else 0.
    int LoadRecoveryLogInfo(const char* deviceName, int diskIndex, unsigned long long startSector,
                            unsigned long long sectorCount, _LOG_FILE_INFO_* info);

    // Forgets the log LoadRecoveryLogInfo found (a scan that starts afresh):
    // its folder is let go and deleted with its record, and the index saved.
    void DropFoundLog();

    // Records where the deep sweep of a volume stopped and saves the config.
    // A disk (devicePath null or "") updates its existing record when the
    // free-space figure of deviceName is unchanged, else replaces it; a
    // volume given by path always gets a new record. Returns the status of
    // SaveLogConfigFile (0 on success).
    unsigned int SaveLogFileInfo(const char* deviceName, int diskIndex, unsigned long long startSector,
                                 unsigned long long sectorCount, unsigned long long runStart,
                                 unsigned long long runLength, unsigned long long runOffset,
                                 unsigned long long scanned, unsigned long long files, const char* logDirPath,
                                 const char* devicePath);

    // Record lookups by key; 1 with *info pointing into the list when the
    // record matches, else 0. A record found by its key that does not match
    // is deleted with its folder. The pointer stays valid until the list
    // changes.
    int GetFileInfo(const char* devicePath, unsigned long long value, _LOG_FILE_INFO_** info);
    int GetFileInfo(int diskIndex, unsigned long long startSector, unsigned long long sectorCount,
                    unsigned long long freeSpace, _LOG_FILE_INFO_** info);

    // Writes into name (PATH_SIZE bytes) the first node file of dirPath, in
    // the folder's listing order, whose name contains prefix; the companion
    // "_Relation" and "_DirInfo" files are passed over. name is left as it
    // was when there is none. Logs "open dir failed\n" when the folder cannot
    // be opened. Returns 0 (87 for a null argument).
    unsigned int GetLogFileNameByFileType(const char* dirPath, const char* prefix, char* name);

    // Drops the first record whose folder equals dirPath (ASCII case
    // ignored) from the list (the config follows at the next save), then
    // deletes dirPath with everything in it, provided it is a numbered folder
    // directly below the scan-log root (root + decimal index + "/") that no
    // live run holds (this one included). Symbolic links are removed, never
    // followed; the working directory is left alone. Returns 0.
    unsigned int DeleteLogFileDir(const char* dirPath);

    // The name of an engine's new store: prefix ("Fast_", "File_Type_",
    // "Pro_Fat_", "Pro_Ntfs_"), the volume's start sector and the time of
    // the scan, every date field zero-padded, so that no two times give
    // the same name and no name holds a blank.
    static std::string MakeStoreName(const char* prefix, unsigned long long startSector);

    // Writes the folder index and the records to "config.tmp", syncs it and
    // renames it over "config". On any failure "config" keeps its old
    // content and the error number is returned.
    unsigned int SaveLogConfigFile();

    // Read-only views for callers and tests.
    const std::vector<_LOG_FILE_INFO_>& GetLogFileInfoVec() const { return m_logFileInfoVec; }
    unsigned long long GetDirIndex() const { return m_nDirIndex; }

    CLogFileManager(const CLogFileManager&) = delete;
    CLogFileManager& operator=(const CLogFileManager&) = delete;

    // Records written by this program carry this mark in uReserved0: their
    // names are UTF-8. Records without it come from builds that stored
    // GB2312 names; they are dropped with their folders when the index is
    // read, rather than shown with garbled names.
    static constexpr uint32_t LOG_FORMAT_UTF8 = 1;

  private:
    // Holds the exclusive lock on the index for a scope.
    class CIndexLock
    {
      public:
        explicit CIndexLock(const std::string& root);
        ~CIndexLock();
        CIndexLock(const CIndexLock&) = delete;
        CIndexLock& operator=(const CIndexLock&) = delete;

      private:
        int m_fd;
    };
    // Reads the index again (another process may have changed it) and
    // gives the folder index it holds; the records replace the list.
    unsigned int LoadIndex(unsigned long long& configIndex);
    // A lock on dir's ".lock" file, taken without waiting: the descriptor,
    // or -1 when another live run (or this one) holds the folder.
    static int TryHoldFolder(const std::string& dir);
    void ReleaseRunFolder();
    // The record of the first volume sameVolume accepts: 1 with *info set when
    // unchanged accepts it too, else the stale record and its folder are
    // dropped and 0 returned. 0 when no record names the volume.
    int FindUnchanged(const std::function<bool(const _LOG_FILE_INFO_&)>& sameVolume,
                      const std::function<bool(const _LOG_FILE_INFO_&)>& unchanged, _LOG_FILE_INFO_** info);
    CLogFileManager();
    ~CLogFileManager() = default;

    // True when dirPath names a numbered folder directly below the root.
    bool IsNumberedLogDir(const char* dirPath) const;
    // Removes the first record whose folder equals dirPath; true if one was.
    bool EraseRecordByDir(const char* dirPath);
    // Deletes a numbered folder's tree without following links.
    void RemoveLogDirTree(const char* dirPath);
    // The folder of index n: root + decimal n + "/".
    std::string DirPathOfIndex(unsigned long long n) const;

    std::vector<_LOG_FILE_INFO_> m_logFileInfoVec;
    std::string m_strLogRootPath;
    unsigned long long m_nDirIndex = 0;
    // The index as the config holds it; may run ahead of this run's folder.
    unsigned long long m_nConfigIndex = 0;
    int m_hRunLock = -1;
    std::string m_strRunDir; // the folder m_hRunLock holds
    // Folders of records an older build wrote, found by the last load.
    std::vector<std::string> m_staleDirs;
    int m_bIsFindLog = 0;
    std::string m_strFindLogDirPath;
};
