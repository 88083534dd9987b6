// Every input of the response-path fuzzer's corpus, the findings it led to among them, holds the
// fuzzer's properties: the same answers read whole and in pieces give the same run, each request
// ends once, and a relocation is announced once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "http/fuzz/http_response_check.h"
#include "platform/headless_application.h"

TEST(ResponseScriptTest, EveryCorpusInputHoldsTheFuzzersProperties) {
    platform::HeadlessApplication application;
    auto* previous = platform::SetApplication(&application);
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(RESPONSE_CORPUS)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string script{std::istreambuf_iterator<char>(file), {}};
        EXPECT_EQ(CheckHttpResponseScript(script), "") << entry.path().filename();
        ++inputs;
    }
    platform::SetApplication(previous);
    EXPECT_GE(inputs, 30);
}
