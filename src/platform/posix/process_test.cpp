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
        if (served != 0 || services->StopPending()) _exit(3);
        ::raise(SIGTERM);  // handled: the process goes on
        // Pending at once, from any thread, though not served yet.
        if (served != 0 || !services->StopPending()) _exit(4);
        if (services->StopSignal() != SIGTERM) _exit(5);
        services->DoEvents();
        services->DoEvents();
        if (served != 1) _exit(6);
        ::raise(SIGINT);  // the second: the signal that ends it names the status
        _exit(7);
      },
      ::testing::ExitedWithCode(130),
      "^tarnwick: stopped early by SIGINT; the run did not finish\n$");
  EXPECT_EXIT(
      {
        const auto services = NewPosixProcessServices();
        services->OnStopRequest([] {});
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        _exit(7);
      },
      ::testing::ExitedWithCode(143), "stopped early by SIGTERM");
}

TEST(PosixProcessTest, ClosedOutputPipeFailsTheWriteInsteadOfEndingTheProcess) {
  EXPECT_EXIT(
      {
        ::signal(SIGPIPE, SIG_DFL);  // as a fresh process has it
        const auto services = NewPosixProcessServices();
        int pipe_fds[2];
        if (::pipe(pipe_fds) != 0) _exit(3);
        ::close(pipe_fds[0]);
        if (::dup2(pipe_fds[1], STDOUT_FILENO) < 0) _exit(4);
        const auto out = services->StandardOutput();
        if (!out) _exit(5);
        if (out->WriteLine("nobody reads this")) _exit(6);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform
