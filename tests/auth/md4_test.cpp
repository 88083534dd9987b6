#include "auth/md4.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/auth/byte_helpers.h"

TEST(Md4Test, MatchesTheRfc1320TestSuite) {
    const std::pair<std::string, std::string> suite[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536"}};
    for (const auto& [message, digest] : suite) {
        EXPECT_EQ(ToHex(Md4Digest(message)), digest) << '"' << message << '"';
    }
}

TEST(Md4Test, DataFedInPiecesAcrossBlockBoundariesGivesTheSameDigest) {
    std::string data;
    for (int index = 0; index < 1000; ++index)
        data += static_cast<char>(index * 7 % 256);
    for (std::size_t pieceSize : {1u, 7u, 55u, 56u, 63u, 64u, 65u}) {
        Md4Context context;
        context.Init();
        for (std::size_t offset = 0; offset < data.size(); offset += pieceSize) {
            context.Update(std::string_view(data).substr(offset, pieceSize));
        }
        EXPECT_EQ(context.Final(), Md4Digest(data)) << "pieces of " << pieceSize;
    }
}

TEST(Md4Test, ContextRefusesUseBeforeInitialisationAndAfterFinal) {
    Md4Context context;
    EXPECT_THROW(context.Update("a"), MD4Exception);
    try {
        context.Final();
        FAIL() << "Final before Init did not throw";
    } catch (const platform::Exception& error) {
        EXPECT_EQ(error.Message(), "MD4 not initialized");
    }

    context.Init();
    context.Update("abc");
    context.Final();
    EXPECT_THROW(context.Update("a"), MD4Exception);

    context.Init();
    EXPECT_EQ(ToHex(context.Final()), "31d6cfe0d16ae931b73c59d7e0c089c0");
}
