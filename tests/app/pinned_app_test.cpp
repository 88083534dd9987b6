// A slow download that keeps coming is no silent one, and where the list lives for a user who
// cannot write the program's folder.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/list_location.h"
#include "tests/app/feed_monitor_fixture.h"
#include "tests/support/scripted_http_server.h"
#include "tests/support/server_process.h"

namespace app {
namespace {

using namespace std::chrono_literals;

class PinnedDownloadTest : public testing::FeedMonitorTest {
  protected:
    test_support::ScriptedHttpServer feeds_;
    test_support::ScriptedHttpServer episodes_;
};

// Fourteen pieces 50 ms apart take more than three times the limit; no pause comes near it.
TEST_F(PinnedDownloadTest, ADownloadThatKeepsComingOutlastsTheInactivityLimit) {
    monitor_->DownloadInactivityLimit = 200ms;
    view_.folderText = programDir_ + "downloads/";
    const std::string bytes(14 * 100, 'e');
    feeds_.AddConnection(test_support::NormalResponse(200, "<rss><channel><item><enclosure url=\"" +
                                                               episodes_.Url("/slow.mp3") +
                                                               "\"/></item></channel></rss>"));
    episodes_.AddConnection(
        test_support::InPieces(test_support::NormalResponse(200, bytes), 100, 50ms));
    monitor_->AddEntry(feeds_.Url("/feed"));
    monitor_->InEnglish();
    monitor_->Button3Click();
    EXPECT_TRUE(monitor_->FailedDownloads().empty());
    EXPECT_EQ(ReadFile(programDir_ + "downloads/slow.mp3"), bytes);
}

// What ListFileLocation says for programDir to a user without root rights: root may write every
// folder, which would hide the way the choice went. The call runs in a child that drops to
// "nobody" when the tests run as root; one that cannot drop them says so instead of answering.
std::string LocationForAnUnprivilegedUser(const std::string& programDir) {
    const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    if (geteuid() == 0 && !nobody) return "no user nobody to run as";
    const uid_t uid = nobody ? nobody->pw_uid : 0;
    const gid_t gid = nobody ? nobody->pw_gid : 0;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "cannot make a pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string answer;
        if (nobody && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            answer = "cannot drop the root rights";
        else
            answer = ListFileLocation(programDir);
        (void)!write(fds[1], answer.data(), answer.size());
        _exit(0);
    }
    close(fds[1]);
    std::string answer;
    pollfd readable{fds[0], POLLIN, 0};
    char block[512];
    ssize_t count = 1;
    while (count > 0 && poll(&readable, 1, 5000) == 1 &&
           (count = read(fds[0], block, sizeof block)) > 0)
        answer.append(block, static_cast<std::size_t>(count));
    close(fds[0]);
    if (pid > 0) {
        kill(pid, SIGKILL);  // a child that answered has ended already
        waitpid(pid, nullptr, 0);
    }
    return pid < 0 ? "cannot fork" : answer;
}

TEST(PinnedListLocationTest, AnExistingListBesideAFolderTheUserCannotWriteIsUsed) {
    test_support::TempFolder program("pd_readonly_program");
    const std::string programDir = program.Path() + "/";
    const std::string elsewhere = UserDataFolder() + "liste.pdl";
    ASSERT_EQ(chmod(program.Path().c_str(), 0555), 0);
    // Without a list there, the data folder: which shows too that the child lost its root rights.
    EXPECT_EQ(LocationForAnUnprivilegedUser(programDir), elsewhere);
    ASSERT_EQ(chmod(program.Path().c_str(), 0755), 0);
    test_support::WriteTextFile(programDir + "liste.pdl", "1\r\nhttp://example.org/feed\r\n/tmp/");
    ASSERT_EQ(chmod(program.Path().c_str(), 0555), 0);
    EXPECT_EQ(LocationForAnUnprivilegedUser(programDir), programDir + "liste.pdl");
    chmod(program.Path().c_str(), 0755);
}

}  // namespace
}  // namespace app
