#pragma once
// The system calls the Linux device backends make, behind one small interface, so that tests can
// stand in for the kernel and benchmarks can count the calls one operation costs.

#include <cstdint>
#include <string>
#include <vector>

namespace diagnostika::linux_sys {

class Syscalls {
public:
    virtual ~Syscalls() = default;

    // As the system calls of the same name: a result of -1 means failure, with the reason in errno.
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;

    // The whole content of a small text file (the kernel's /proc and /sys entries); false when it
    // cannot be read.
    virtual bool readText(const std::string& path, std::string& text) = 0;
    // The names in a folder; empty when there is none.
    virtual bool listFolder(const std::string& path, std::vector<std::string>& names) = 0;
};

// The real ones.
Syscalls& systemCalls();

// Passes every call on to `next` and counts them.
class CountingSyscalls final : public Syscalls {
public:
    explicit CountingSyscalls(Syscalls& next) : next_(next) {}

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    bool readText(const std::string& path, std::string& text) override;
    bool listFolder(const std::string& path, std::vector<std::string>& names) override;

    std::uint64_t opens = 0, closes = 0, ioctls = 0, fileReads = 0;
    std::uint64_t total() const { return opens + closes + ioctls + fileReads; }
    void reset() { opens = closes = ioctls = fileReads = 0; }

private:
    Syscalls& next_;
};

// The reason for an errno value, as the system words it.
std::string errorText(int error);

} // namespace diagnostika::linux_sys
