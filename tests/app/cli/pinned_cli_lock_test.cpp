// The editing commands keep the list's run lock until their save is done: a run starting while
// one of them saves would scan the list it is about to replace.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/run_lock.h"
#include "program_run.h"
#include "tests/support/server_process.h"

namespace app::cli::testing {
namespace {

// Whether the program runs in process pid (its exec is done, so what the test had open is closed
// there) and has file open.
bool ProgramHasOpen(pid_t pid, const std::string& file) {
    const std::string process = "/proc/" + std::to_string(pid);
    std::error_code error;
    if (std::filesystem::read_symlink(process + "/exe", error) != CLI_PROGRAM) return false;
    for (const auto& entry : std::filesystem::directory_iterator(process + "/fd", error)) {
        if (std::filesystem::read_symlink(entry.path(), error) == file) return true;
    }
    return false;
}

TEST(PinnedCliLockTest, EditsHoldTheRunLockUntilTheListIsSaved) {
    test_support::TempFolder folder("pd_cli_lock");
    const std::string list = folder / "liste.pdl";
    test_support::WriteTextFile(list, "2\r\nhttp://one.example/\r\nhttp://two.example/\r\n/tmp/");
    const std::vector<std::vector<std::string>> commands = {
        {"add", "http://three.example/"}, {"remove", "1"}, {"folder", folder / "pods"}};
    for (const auto& command : commands) {
        SCOPED_TRACE(command.front());
        // The save waits for this lock, so the program is caught in the middle of it.
        auto save = std::make_unique<SaveLock>(list, std::chrono::milliseconds(0));
        ASSERT_TRUE(save->Acquired());
        std::vector<std::string> argv = {CLI_PROGRAM, "--list-file", list};
        argv.insert(argv.end(), command.begin(), command.end());
        ProgramRun run(argv, {"PATH=/usr/bin:/bin", "HOME=" + (folder / "home"), "LANG=C"});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!ProgramHasOpen(run.Pid(), list + ".save.lock") &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(ProgramHasOpen(run.Pid(), list + ".save.lock")) << "the save never began";
        EXPECT_FALSE(RunLock(list).Acquired()) << "a run could start during the save";
        save.reset();
        ProgramResult result = run.Wait(std::chrono::seconds(10));
        EXPECT_EQ(result.status, 0) << result.err;
    }
    std::ostringstream saved;
    saved << std::ifstream(list, std::ios::binary).rdbuf();
    EXPECT_EQ(saved.str(),
              "2\r\nhttp://two.example/\r\nhttp://three.example/\r\n" + (folder / "pods/"));
}

}  // namespace
}  // namespace app::cli::testing
