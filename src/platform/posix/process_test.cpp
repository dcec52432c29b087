#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace platform {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(PosixProcessTest, ProgramDirectoryHoldsTheRunningExecutable) {
  const auto services = NewPosixProcessServices();
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(services->ProgramDirectory(), exe.parent_path().string());
}

TEST(PosixProcessTest, AppendToFileCreatesAppendsAndReportsFailure) {
  const auto services = NewPosixProcessServices();
  std::string directory = "/tmp/tarnwick_posix_XXXXXX";
  ASSERT_NE(::mkdtemp(directory.data()), nullptr);
  const std::string path = directory + "/Tarnwick.log";
  EXPECT_TRUE(services->AppendToFile(path, "one\r\n"));
  EXPECT_TRUE(services->AppendToFile(path, std::string("t\0o\r\n", 5)));
  EXPECT_EQ(ReadFile(path), std::string("one\r\nt\0o\r\n", 10));
  EXPECT_FALSE(services->AppendToFile(directory + "/missing/Tarnwick.log", "x"));
  EXPECT_FALSE(services->AppendToFile(directory, "x"));  // a directory
  std::filesystem::remove_all(directory);
}

TEST(PosixProcessTest, StopSignalIsServedOnceAtDoEventsAndSecondSignalEndsTheRun) {
  // The signal disposition and flag are process-wide: keep them in a child.
  EXPECT_EXIT(
      {
        const auto services = NewPosixProcessServices();
        int served = 0;
        services->OnStopRequest([&] { ++served; });
        services->DoEvents();
        if (served != 0) _exit(3);
        ::raise(SIGTERM);           // handled: the process goes on
        if (served != 0) _exit(4);  // never inside the signal handler
        services->DoEvents();
        services->DoEvents();
        if (served != 1) _exit(5);
        ::raise(SIGINT);
        _exit(6);
      },
      ::testing::ExitedWithCode(130), "");
}

}  // namespace
}  // namespace platform
