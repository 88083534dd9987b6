#include "platform/streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace platform {
namespace {

std::string FileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TempFile {
  public:
    TempFile()
        : path_((std::filesystem::temp_directory_path() /
                 ("streams_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++)))
                    .string()) {}
    ~TempFile() { std::filesystem::remove(path_); }
    const std::string& Path() const { return path_; }

  private:
    static inline int counter_ = 0;
    std::string path_;
};

// The same contract holds for both kinds of stream.
void ExerciseStream(Stream& stream) {
    stream.Write("hello world", 11);
    EXPECT_EQ(stream.Size(), 11);
    EXPECT_EQ(stream.Position(), 11);

    stream.SetPosition(6);
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0);

    // Overwrite in the middle, then cut back: the position follows the new end.
    stream.SetPosition(0);
    stream.Write("HELLO", 5);
    stream.SetSize(7);
    EXPECT_EQ(stream.Size(), 7);
    EXPECT_EQ(stream.Position(), 5);
    stream.Seek(0, SeekOrigin::End);
    EXPECT_EQ(stream.Position(), 7);
    stream.SetSize(3);
    EXPECT_EQ(stream.Position(), 3);

    // A seek back from the current position, and a write past the end leaves zeros in the gap.
    EXPECT_EQ(stream.Seek(-1, SeekOrigin::Current), 2);
    stream.Seek(5, SeekOrigin::Begin);
    stream.Write("!", 1);
    stream.SetPosition(0);
    char all[6];
    ASSERT_EQ(stream.Read(all, 6), 6);
    EXPECT_EQ(std::string(all, 6), std::string("HEL\0\0!", 6));

    EXPECT_THROW(stream.Seek(-1, SeekOrigin::Begin), EStreamError);
}

TEST(MemoryStreamTest, ReadsWritesSeeksAndResizes) {
    MemoryStream stream;
    ExerciseStream(stream);
    EXPECT_EQ(stream.Data(), std::string("HEL\0\0!", 6));
}

TEST(FileStreamTest, ReadsWritesSeeksAndResizes) {
    TempFile file;
    {
        FileStream stream(file.Path(), FileMode::Create);
        ExerciseStream(stream);
    }
    EXPECT_EQ(FileContents(file.Path()), std::string("HEL\0\0!", 6));
}

TEST(FileStreamTest, GatheredWritesReachTheFileInOrder) {
    TempFile file;
    std::string expected;
    {
        FileStream stream(file.Path(), FileMode::Create);
        // Blocks of odd sizes, one larger than the gathering buffer, cross every boundary.
        for (int i = 0; i < 200; ++i) {
            std::string block(static_cast<std::size_t>(1 + (i * 7919) % 9000), char('a' + i % 26));
            if (i == 100) block.assign(600 * 1024, 'X');
            stream.Write(block.data(), static_cast<std::int64_t>(block.size()));
            expected += block;
        }
        EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(expected.size()));
        stream.Write("tail", 4);
        expected += "tail";
        stream.Flush();
        EXPECT_EQ(FileContents(file.Path()), expected);
        stream.Write("unflushed", 9);
        expected += "unflushed";
    }
    EXPECT_EQ(FileContents(file.Path()), expected);

    FileStream reader(file.Path(), FileMode::OpenRead);
    EXPECT_EQ(reader.Size(), static_cast<std::int64_t>(expected.size()));
    EXPECT_THROW(reader.Write("x", 1), EStreamError);
}

TEST(FileStreamTest, CreateReplacesAndOpenNeedsAnExistingFile) {
    TempFile file;
    { std::ofstream(file.Path()) << "old contents"; }
    FileStream(file.Path(), FileMode::Create).Write("new", 3);
    EXPECT_EQ(FileContents(file.Path()), "new");

    TempFile missing;
    EXPECT_THROW(FileStream(missing.Path(), FileMode::OpenRead), EStreamError);
    EXPECT_THROW(FileStream("/nonexistent-dir/file", FileMode::Create), EStreamError);
}

}  // namespace
}  // namespace platform
