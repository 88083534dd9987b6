// The diagnostic logger with real files: opening, appending and emptying, changing the file, the
// time stamp, the event and the debug output, several writers on one file, and its attachment to
// a socket.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "log/qtx_logger.h"
#include "socket/twsocket.h"
#include "tests/support/server_process.h"

using test_support::TempFolder;
using test_support::WriteTextFile;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

class QtxLoggerTest : public ::testing::Test {
  protected:
    TempFolder folder{"pd_logger"};
    TQtxLogger logger;
    TWSocket sender;
};

TEST_F(QtxLoggerTest, AFileThatCannotBeOpenedIsTheProducersError) {
    logger.SetLogOptions({loDestFile});
    const std::string missingFolder = folder / "missing/x.log";
    for (const std::string& name : {std::string(), missingFolder}) {
        logger.SetLogFileName(name);
        try {
            logger.Log(&sender, loWsockInfo, "line");
            ADD_FAILURE() << "a line was written to \"" << name << "\"";
        } catch (const ELoggerException& error) {
            EXPECT_EQ(error.Message(), name.empty() ? "File name empty"
                                                    : "Cannot open the log file " + missingFolder +
                                                          ": No such file or directory");
        }
    }
}

TEST_F(QtxLoggerTest, AppendKeepsTheContentAndOverwriteEmptiesAtOpening) {
    const std::string path = folder / "a.log";
    logger.SetLogOptions({loDestFile});
    logger.SetLogFileName(path);
    WriteTextFile(path, "old\r\n");
    logger.Log(&sender, loWsockInfo, "one");
    EXPECT_EQ(ReadFile(path), "old\r\none\r\n");

    // A new option waits for the next opening; setting the same name does not reopen.
    logger.SetLogFileOption(lfoOverwrite);
    logger.SetLogFileName(path);
    logger.Log(&sender, loWsockInfo, "two");
    EXPECT_EQ(ReadFile(path), "old\r\none\r\ntwo\r\n");

    logger.SetLogFileName(folder / "b.log");
    logger.Log(&sender, loWsockInfo, "elsewhere");
    logger.SetLogFileName(path);
    logger.Log(&sender, loWsockInfo, "three");
    logger.Log(&sender, loWsockInfo, "four");
    EXPECT_EQ(ReadFile(path), "three\r\nfour\r\n");
    EXPECT_EQ(ReadFile(folder / "b.log"), "elsewhere\r\n");
}

TEST_F(QtxLoggerTest, StampedLinesAndTheStampFormat) {
    std::tm time{};
    time.tm_hour = 9;
    time.tm_min = 5;
    time.tm_sec = 7;
    EXPECT_EQ(LogTimeStamp(time, 3), "09:05:07:003");
    time.tm_hour = 14;
    time.tm_min = 3;
    time.tm_sec = 9;
    EXPECT_EQ(LogTimeStamp(time, 127), "14:03:09:127");

    const std::string path = folder / "stamped.log";
    logger.SetLogFileName(path);
    logger.SetLogOptions({loDestFile, loAddStamp});
    logger.Log(&sender, loWsockInfo, "line");
    EXPECT_TRUE(
        std::regex_match(ReadFile(path), std::regex("\\d\\d:\\d\\d:\\d\\d:\\d{3} line\r\n")))
        << ReadFile(path);
}

TEST_F(QtxLoggerTest, TheEventAndTheDebugOutputWhenChosen) {
    std::vector<std::string> seen;
    logger.SetOnQtxLogEvent(
        [&](platform::TComponent* from, TLogOption option, const std::string& msg) {
            EXPECT_EQ(from, &sender);
            seen.push_back(std::to_string(option) + " " + msg);
        });
    logger.SetLogOptions({loDestOutDebug});
    testing::internal::CaptureStderr();
    logger.Log(&sender, loProtSpecDump, "debug only");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("debug only"), std::string::npos);
    EXPECT_TRUE(seen.empty());

    // The kind of a line is the producer's test, not the logger's.
    logger.SetLogOptions({loDestEvent});
    logger.Log(&sender, loProtSpecDump, "to the event");
    EXPECT_EQ(seen, (std::vector<std::string>{std::to_string(loProtSpecDump) + " to the event"}));
}

TEST_F(QtxLoggerTest, AHandlerThatReplacesItselfFinishesItsLine) {
    std::vector<std::string> seen;
    // The captured text lives in the handler: freeing it while it runs would be seen here.
    std::string firstName = "first handler with a name too long for the small-string buffer";
    logger.SetLogOptions({loDestEvent});
    logger.SetOnQtxLogEvent([&, firstName](platform::TComponent*, TLogOption,
                                           const std::string& msg) {
        logger.SetOnQtxLogEvent([&](platform::TComponent*, TLogOption, const std::string& line) {
            seen.push_back("second " + line);
        });
        seen.push_back(firstName + " " + msg);
    });
    logger.Log(&sender, loProtSpecDump, "one");
    logger.Log(&sender, loProtSpecDump, "two");
    EXPECT_EQ(seen, (std::vector<std::string>{firstName + " one", "second two"}));
}

// Two loggers on two threads writing one file: every line arrives whole.
TEST_F(QtxLoggerTest, SeveralWritersNeverMixTheirLines) {
    const std::string path = folder / "shared.log";
    constexpr int kLines = 2000;
    auto writer = [&](char mark) {
        TQtxLogger own;
        own.SetLogFileName(path);
        own.SetLogOptions({loDestFile});
        for (int i = 0; i < kLines; ++i)
            own.Log(nullptr, loWsockInfo, std::string(100, mark));
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    std::istringstream lines(ReadFile(path));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_TRUE(line == std::string(100, 'a') + "\r" || line == std::string(100, 'b') + "\r")
            << "line " << count << ": " << line;
    }
    EXPECT_EQ(count, 2 * kLines);
}

TEST_F(QtxLoggerTest, ASocketAsksItsLoggerAndForgetsItWhenItGoes) {
    EXPECT_FALSE(sender.LogEnabled(loWsockInfo));
    {
        TQtxLogger attached;
        attached.SetLogOptions({loDestEvent, loWsockInfo});
        std::vector<std::string> seen;
        attached.SetOnQtxLogEvent([&](platform::TComponent*, TLogOption, const std::string& msg) {
            seen.push_back(msg);
        });
        sender.SetQtxLogger(&attached);
        EXPECT_TRUE(sender.LogEnabled(loWsockInfo));
        EXPECT_FALSE(sender.LogEnabled(loWsockDump));
        sender.LogLine(loWsockInfo, "hello");
        EXPECT_EQ(seen, (std::vector<std::string>{"hello"}));
    }
    EXPECT_EQ(sender.QtxLogger(), nullptr);
    EXPECT_FALSE(sender.LogEnabled(loWsockInfo));
    sender.LogLine(loWsockInfo, "nobody listens");

    // A socket that goes first leaves the logger usable.
    auto socket = std::make_unique<TWSocket>();
    socket->SetQtxLogger(&logger);
    socket.reset();
    logger.SetLogOptions({loDestEvent});
    logger.Log(nullptr, loWsockInfo, "still here");
}

}  // namespace
