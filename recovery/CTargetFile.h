// Writing recovered files without ever writing outside the folder the user
// chose. Every engine's file copy, folder copy and preview goes through this.
//
// A recovery run holds its destination open as a directory handle
// (CTargetRoot) for the run's life. A target path handed to an engine is a
// wide string that begins with the root's label; everything after the label
// is resolved one component at a time below the handle, each folder opened
// with O_NOFOLLOW, so a folder swapped for a link while the run goes on
// cannot lead a file elsewhere, and the destination's own path (bytes, maybe
// not UTF-8) is never formed again from its wide label.
//
// A file is written under a hidden temporary name in its final folder and
// renamed to its final name only when the copy ended whole (or ran out of
// source data: what was read is kept and the file reported incomplete); any
// other failure or a stop removes it, so no file of the right name and the
// wrong length is ever left behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace tessaroo
{
class CTargetRoot
{
  public:
    CTargetRoot();
    ~CTargetRoot();
    CTargetRoot(const CTargetRoot&) = delete;
    CTargetRoot& operator=(const CTargetRoot&) = delete;

    // Makes path (bytes as the user gave them) when missing, opens it as a
    // directory handle without following a link in its last component, and
    // from then on, on this thread, resolves target paths that begin with
    // label + "/" below it. Returns 0 or a destination status
    // (DestinationStatus(errno)); message then says what went wrong.
    unsigned int Open(const std::string& path, const std::wstring& label, std::string& message);
    bool IsOpen() const { return m_fd >= 0; }

    // The handle of folder relative (components separated by '/') below the
    // root, made when missing; each component opened with O_NOFOLLOW. The
    // handle belongs to the root (do not close it). Returns 0 or a
    // destination status.
    unsigned int OpenFolder(const std::string& relative, int& fd);

    // The root that resolves targetPath on this thread, with the path below
    // it in relative (UTF-8); null when no root's label leads targetPath.
    static CTargetRoot* Find(const wchar_t* targetPath, std::string& relative);

    // The first number to try after name in folder when choosing a free name
    // ("a.txt", "a(1).txt", ...); remembered per name so that many files of
    // one name do not test the same taken names over again.
    unsigned int& NextFreeNumber(const std::string& folder, const std::string& name);

  private:
    int m_fd;
    std::wstring m_strLabel;
    // Folders opened below the root, by relative path. Bounded: a folder
    // copy of a huge tree must not run the process out of descriptors.
    std::map<std::string, int> m_folders;
    std::map<std::pair<std::string, std::string>, unsigned int> m_nextNumber;
    CTargetRoot* m_pOuter; // the root this one hides on this thread
};

class CTargetFile
{
  public:
    CTargetFile();
    // A file created and not finished is removed.
    ~CTargetFile();
    CTargetFile(const CTargetFile&) = delete;
    CTargetFile& operator=(const CTargetFile&) = delete;

    // Creates the hidden temporary file in the folder of targetPath (made
    // when missing). Without a root that leads targetPath, the folder is
    // opened once by its path (its last component never a link). Returns 0,
    // 87 for a null, empty or "."/".." name, or a destination status.
    unsigned int Create(const wchar_t* targetPath);
    // A preview picture: the temporary file is made in the scan-log folder
    // and Finish puts it in place of "tmp." + ext there.
    unsigned int CreatePreview(const char* ext);

    // Writes all len bytes; 0 or a destination status (ENOSPC, EIO...).
    unsigned int Write(const void* data, size_t len);
    // Times the volume recorded for the file, in seconds since 1970; set on
    // the file when it is kept. 0 leaves a time as the system sets it.
    void SetTimes(int64_t accessTime, int64_t modifyTime);

    // Ends the file. status 0 or STATUS_READ_FAULT: the file is kept under
    // the first free name of "name", "name(1)", "name(2)", ... (a preview
    // replaces the previous one); any other status: it is removed. Returns
    // status, or the destination status of a failed close or rename (the
    // file is then removed).
    unsigned int Finish(unsigned int status);

    // The path reports should name: the target path until Finish, then the
    // name the file was kept under.
    const std::wstring& GetPath() const { return m_strPath; }

  private:
    unsigned int CreateIn(int dirFd, const std::string& name);
    // The same in a folder opened once by its path (made when missing).
    unsigned int CreateInFolderPath(const std::string& folder, const std::string& name);
    void Remove();

    int m_fd;
    int m_dirFd;      // the folder the file is made in
    bool m_bOwnDirFd; // opened for this file (no root led its path)
    bool m_bPreview;
    CTargetRoot* m_pRoot;
    std::string m_strFolder; // relative folder below the root, for free names
    std::string m_strTemp;   // temporary name in the folder
    std::string m_strName;   // final name wanted
    std::wstring m_strPath;  // reported path
    int64_t m_nAccessTime;
    int64_t m_nModifyTime;
};

// Makes the folder targetPath (resolved as CTargetFile::Create resolves a
// file's path) or accepts an existing real folder; never follows a link.
// Returns 0, 87 for a bad path, or a destination status.
unsigned int MakeTargetFolder(const wchar_t* targetPath);
} // namespace tessaroo
