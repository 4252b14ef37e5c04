// The journal's file on a real full disk: a tmpfs of 64 KiB, mounted for the test.
#if defined(__linux__)
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/disk_journal.h"

namespace keldrin::test {
namespace {

class TinyDisk {
public:
    TinyDisk() {
        if (dir_.isValid() && ::mount("tmpfs", path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0) {
            mounted_ = true;
        } else {
            why_ = std::strerror(errno);
        }
    }
    ~TinyDisk() {
        if (mounted_) ::umount2(path().c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    std::string path() const { return dir_.path().toStdString(); }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    std::string why_;
};

TEST(DiskJournalOnAFullDisk, AppendsAndAReplacementThatTheDiskCannotHoldFail) {
    TinyDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root: " << disk.why();
    JournalOpenError openError = JournalOpenError::None;
    auto journal = DiskJournal::open(QString::fromStdString(disk.path() + "/未保存记录.dat"), &openError);
    ASSERT_TRUE(journal) << static_cast<int>(openError);
    const std::string row(1000, 'x');
    int taken = 0;
    while (taken < 200 && journal->append(row)) ++taken;
    EXPECT_GT(taken, 10);
    EXPECT_LT(taken, 66);  // 64 KiB hold no more, whatever write() said
    EXPECT_FALSE(journal->append(row));

    // Making it again needs room for a second copy, which a full disk does not have.
    EXPECT_TRUE(journal->restart(""));
    EXPECT_TRUE(journal->append(std::string(40000, 'y')));
    FileError why;
    std::unique_ptr<OutFile> again = journal->replacement(&why);
    ASSERT_TRUE(again);
    const bool wrote = again->write(std::string(40000, 'z'));
    EXPECT_FALSE(wrote && again->commit(&why));
}

}  // namespace
}  // namespace keldrin::test
#endif
