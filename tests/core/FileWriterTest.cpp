// writeFileReplacing: what each kind of path gets, and what a failed write leaves behind.

#include "core/FileWriter.h"

#include "support/SmallDisk.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The names in a folder, so that a test sees a temporary left behind.
std::vector<std::string> namesIn(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class FileWriter : public ::testing::Test
{
protected:
    std::string at(const std::string &name) const
    {
        return m_dir.path().toStdString() + "/" + name;
    }
    QTemporaryDir m_dir;
};

// A new file, an old one replaced (its permission bits kept, no temporary left), a symbolic
// link whose target is replaced beside it, and the paths refused.
TEST_F(FileWriter, RegularFilesAreReplacedWholeAndLinksKept)
{
    EXPECT_TRUE(writeFileReplacing(at("new.csv"), "a,b\r\n").ok());
    EXPECT_EQ(contentOf(at("new.csv")), "a,b\r\n");

    put(at("old.csv"), "earlier content that is longer\n");
    ASSERT_EQ(::chmod(at("old.csv").c_str(), 0640), 0);
    EXPECT_TRUE(writeFileReplacing(at("old.csv"), "short\n").ok());
    EXPECT_EQ(contentOf(at("old.csv")), "short\n");
    struct stat status = {};
    ASSERT_EQ(::stat(at("old.csv").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);

    fs::create_directory(at("target"));
    put(at("target/real.csv"), "old\n");
    fs::create_symlink(at("target/real.csv"), at("link.csv"));
    EXPECT_TRUE(writeFileReplacing(at("link.csv"), "through the link\n").ok());
    EXPECT_TRUE(fs::is_symlink(at("link.csv")));
    EXPECT_EQ(contentOf(at("target/real.csv")), "through the link\n");
    EXPECT_EQ(namesIn(at("target")), std::vector<std::string>{"real.csv"});
    EXPECT_EQ(namesIn(m_dir.path().toStdString()),
              (std::vector<std::string>{"link.csv", "new.csv", "old.csv", "target"}));

    fs::create_symlink(at("nowhere/x.csv"), at("dangling.csv"));
    const std::pair<std::string, std::string> refused[] = {
        {at("dangling.csv"),
         "a symbolic link to a file that cannot be reached (No such file or directory)"},
        {at("target"), "a folder, not a file"},
        {at("no/such/folder/x.csv"), "No such file or directory"},
        {"", "no file name"},
    };
    for (const auto &[path, reason] : refused) {
        const FileWriteResult r = writeFileReplacing(path, "x");
        EXPECT_FALSE(r.ok()) << path;
        EXPECT_EQ(r.detail, path + ": " + reason);
        EXPECT_EQ(fileWriteReason(r, path), reason);
    }
    EXPECT_TRUE(fs::is_symlink(at("dangling.csv")));
}

// A FIFO and a device are written where they are, never renamed over; a full device reports
// the full disk.
TEST_F(FileWriter, DevicesAndFifosAreWrittenDirectly)
{
    ASSERT_EQ(::mkfifo(at("pipe").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = contentOf(at("pipe")); });
    EXPECT_TRUE(writeFileReplacing(at("pipe"), "down the pipe\n").ok());
    reader.join();
    EXPECT_EQ(received, "down the pipe\n");
    EXPECT_TRUE(fs::is_fifo(at("pipe")));
    EXPECT_EQ(namesIn(m_dir.path().toStdString()), std::vector<std::string>{"pipe"});

    // Nodes of its own (as /dev/null and /dev/full), so that no fault can replace the system's.
    if (::mknod(at("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0 ||
        ::mknod(at("full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)) != 0)
        GTEST_SKIP() << "no device nodes here: " << std::strerror(errno);
    EXPECT_TRUE(writeFileReplacing(at("null"), "nothing\n").ok());
    EXPECT_TRUE(fs::is_character_file(at("null")));
    const FileWriteResult full = writeFileReplacing(at("full"), "x");
    EXPECT_EQ(full.code, FileWriteError::Write);
    EXPECT_EQ(full.detail, at("full") + ": No space left on device");
    EXPECT_TRUE(fs::is_character_file(at("full")));
}

// Fault mended: a write that the disk cannot hold kept nothing of the old file.
TEST_F(FileWriter, AFullDiskKeepsTheOldFile)
{
    test::SmallDisk disk(2); // the old file's page and one more
    if (!disk.ok())
        GTEST_SKIP() << disk.whyNot();
    put(disk.file("sweep.csv"), "the old sweep\r\n");
    const FileWriteResult r = writeFileReplacing(disk.file("sweep.csv"), std::string(9000, 'n'));
    EXPECT_EQ(r.code, FileWriteError::Write);
    EXPECT_EQ(r.detail, disk.file("sweep.csv") + ": No space left on device");
    EXPECT_EQ(contentOf(disk.file("sweep.csv")), "the old sweep\r\n");
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"sweep.csv"});
    // The same text fits once the disk has room.
    EXPECT_TRUE(writeFileReplacing(disk.file("sweep.csv"), std::string(4000, 'n')).ok());
}

} // namespace
} // namespace quillon
