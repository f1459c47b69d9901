// Runs tessaroo-cli as a user would: in a folder, with a chosen environment,
// its outputs captured.
#pragma once

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaroo
{
namespace test
{
struct CliRun
{
    int exitCode = -1;
    std::string out, err;
};

// The shell command that runs the command line with args in cwd. env lists
// NAME=value to set (NAME= with nothing after it unsets); prefix may drop
// the user first.
std::string CliCommand(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       const std::string& cwd, const std::string& prefix = "",
                       const std::string& binary = TESSAROO_CLI_PATH);

// Runs it with no input and returns its exit status and outputs.
CliRun RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env,
              const std::string& cwd, const std::string& prefix = "",
              const std::string& binary = TESSAROO_CLI_PATH);

// Runs in a temporary folder, with a support folder of its own and no disk
// list (a test adds TESSAROO_DISKS=... to env to name disks).
class CliFixture : public ::testing::Test
{
  protected:
    CliRun Run(const std::vector<std::string>& args) { return RunCli(args, env, dir.Path()); }
    TempDir dir{"cli"};
    std::vector<std::string> env{"TESSAROO_SUPPORT_DIR=" + dir.File("support"), "TESSAROO_DISKS="};
};
} // namespace test
} // namespace tessaroo
