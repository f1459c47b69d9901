// Start-up of the two instances of the program and its diagnostics.
//
// The instance the user starts (no argument, or two or more) is the
// launcher: it asks for administrator rights, starts an elevated copy of the
// same executable with the single argument "start", and ends. The elevated
// copy (exactly one argument, whatever it says) shows the main window.
#pragma once

#include <QString>
#include <QtGlobal>

#include <string>

// The toolkit's message handler. Debug messages become lines "Debug: %1"
// appended to "Log.txt" in the current directory (opened and closed for every
// message, so any thread may log); other kinds are dropped.
void customMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);

// Deletes every entry directly in folder path whose name contains "tmp."
// (the preview files the engines leave); subfolders are neither entered nor
// removed. 1 when the folder could be listed, 0 otherwise.
int DeleteTmpFile(const char* path);

namespace tessaroo::app
{
// Installs customMessageHandler and routes the core's log into it.
void InstallDiagnostics();

// "Out.txt": standard error of the elevated instance while it runs.
struct OUT_FILE
{
    int fd = -1;           // the open file
    int nSavedStderr = -1; // standard error before the redirection
    std::string strPath;   // absolute path, so a later change of folder cannot misdirect the delete
    unsigned long long uDevice = 0;
    unsigned long long uInode = 0;
};

// Opens (creates with 0644, never truncates, never through a symbolic link)
// szName in the current directory and makes it standard error. False, with
// standard error left alone, when it cannot be opened.
bool OpenOutFile(OUT_FILE& out, const char* szName = "Out.txt");

// Gives standard error back, closes the file and deletes it, unless the name
// meanwhile leads to something else.
void CloseOutFile(OUT_FILE& out);

// Without administrator rights (the window started directly on image files)
// the system folder cannot be created, so scan logs go to the user's cache
// folder ($XDG_CACHE_HOME or ~/.cache, + "/tessaroo"), as with the command
// line. TESSAROO_SUPPORT_DIR, when set, always wins.
void ChooseSupportDir(bool bPrivileged);

// The launcher: asks for the right and starts selfPath "start" elevated.
// Returns 0 in every case, without waiting for the copy.
int RunLauncher(const QString& selfPath);

// The elevated instance: the main window until it closes, then clean-up.
int RunElevatedInstance();
} // namespace tessaroo::app
