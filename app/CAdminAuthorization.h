// Administrator rights for the relaunch of the program. Reading raw disk
// nodes needs them, so the instance the user starts asks for the right and
// starts an elevated copy of itself. The class keeps the four steps of a
// platform authorisation service (create, ask for the right, start the copy,
// free), so that a build for a platform with such a service implements the
// same four calls over it. On Linux the service is polkit, reached through
// pkexec: CAdminAuthorizationPkexec.cpp.
#pragma once

#include <string>
#include <sys/types.h>

class CAdminAuthorization
{
  public:
    CAdminAuthorization();
    ~CAdminAuthorization();
    CAdminAuthorization(const CAdminAuthorization&) = delete;
    CAdminAuthorization& operator=(const CAdminAuthorization&) = delete;

    // Prepares a request. 0 when the service is there, otherwise a non-zero
    // status (ENOENT when pkexec is not on PATH).
    int Create();

    // Asks for the administrator right. 0 when it may be used. polkit asks
    // the user for the password when the elevated copy starts, so here this
    // only confirms that a request was created.
    int CopyRights();

    // Starts szPath with the arguments of args (a null-terminated list, not
    // holding the program name) with administrator rights, and returns at
    // once without waiting for it: 0 when the request was started. When
    // pKeeper is given it receives the process id of the child that watches
    // the request (the caller may reap it; the launcher just ends).
    int ExecuteWithPrivileges(const char* szPath, const char* const* args, pid_t* pKeeper = nullptr);

    // Ends the request. Idempotent.
    void Free();

    // The environment variables handed to the elevated copy: the display
    // variables a desktop program needs, and the disk and folder mapping.
    static const char* const PASSED_VARIABLES[];

  private:
    std::string m_strService; // pkexec's path once Create succeeded
    bool m_bCreated;
};
