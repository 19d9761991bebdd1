#pragma once

// A nearly full disk for the tests of what a failed write leaves behind: a tmpfs of a few
// pages, mounted in a mount namespace of the test process's own (the first use moves the
// calling thread into it, mounts private, so nothing is seen outside the test; processes
// started from that thread afterwards, such as quillon-cli through std::system, share it).
// tmpfs hands out whole 4096-byte pages: a file of 1 to 4096 bytes takes one.
//
//   SmallDisk disk(3);                     // room for three pages
//   if (!disk.ok()) GTEST_SKIP() << disk.whyNot();

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace quillon::test {

class SmallDisk
{
public:
    static constexpr std::size_t kPage = 4096;

    explicit SmallDisk(std::size_t pages)
    {
        static const std::string ownNamespace = enterOwnNamespace();
        if (!ownNamespace.empty()) {
            m_whyNot = ownNamespace;
            return;
        }
        char folder[] = "/tmp/quillon-small-disk-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            m_whyNot = std::string("no temporary folder: ") + std::strerror(errno);
            return;
        }
        m_path = folder;
        const std::string options = "size=" + std::to_string(pages * kPage);
        if (::mount("tmpfs", folder, "tmpfs", 0, options.c_str()) != 0) {
            m_whyNot = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            ::rmdir(folder);
            m_path.clear();
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_path.c_str(), MNT_DETACH);
        if (!m_path.empty())
            ::rmdir(m_path.c_str());
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool ok() const { return m_mounted; }
    const std::string &whyNot() const { return m_whyNot; }
    // The mount point: "/tmp/quillon-small-disk-XXXXXX".
    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

    // Writes `bytes` bytes into the file `name` on the disk (one page a started 4096).
    bool put(const std::string &name, std::size_t bytes, char fill = 'x') const
    {
        std::ofstream out(file(name), std::ios::binary);
        out << std::string(bytes, fill);
        out.flush();
        return static_cast<bool>(out);
    }

private:
    // Empty when this thread now has its own, private mount namespace; else why not.
    static std::string enterOwnNamespace()
    {
        if (::unshare(CLONE_NEWNS) != 0)
            return std::string("no mount namespace here: ") + std::strerror(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("cannot make the mounts private: ") + std::strerror(errno);
        return {};
    }

    std::string m_path;
    std::string m_whyNot;
    bool m_mounted = false;
};

} // namespace quillon::test
