#pragma once

#include <string>

namespace kora::sim {

// The acceptor's end of the serial line: the master side of a new
// pseudo-terminal, or an existing serial device. Both are raw, so every byte
// passes untranslated (the host message carries 02, 03 and 11), and
// non-blocking, so a host that stops reading cannot stall the acceptor.
class PtyLink
{
public:
    // An empty `device` means a new pseudo-terminal at each open(). A
    // non-empty `symlink` is kept a symbolic link to the current device and
    // removed when the link closes if it still leads there, so a host can be
    // pinned to one path across reopenings.
    explicit PtyLink(std::string device = {}, std::string symlink = {});
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Throws std::invalid_argument when the device is not a terminal or
    // `symlink` holds anything but a link to a pseudo-terminal or to nothing,
    // std::system_error when the device cannot be had.
    void open();
    void close();
    bool isOpen() const { return fd_ >= 0; }
    bool servesDevice() const { return !device_.empty(); }
    // The descriptor to read host bytes from and write replies to.
    int fd() const { return fd_; }
    // The path a host opens: the pseudo-terminal's slave, or the device.
    const std::string& path() const { return path_; }
    const std::string& symlinkPath() const { return symlink_; }

private:
    void openNewPty();
    void openDevice();
    void pointSymlink();
    void removeSymlink();

    std::string device_;
    std::string symlink_;
    std::string path_;
    int fd_ = -1;
    // Our own hold on the slave: without it the master reports a hang-up
    // whenever the host has the port closed.
    int slaveFd_ = -1;
};

} // namespace kora::sim
