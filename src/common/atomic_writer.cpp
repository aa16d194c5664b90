#include "common/atomic_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "common/errors.hpp"

namespace tamlor {
namespace {

// The folder part of a path, with its final slash ("" for a bare name).
std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links (at most 40, as the system does) to the path they
// finally name, which need not exist yet. A path that cannot be examined is
// returned as it is: opening it then reports why.
std::string follow_links(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return path;
        link.resize(static_cast<std::size_t>(n));
        path = (!link.empty() && link[0] == '/') ? link : folder_of(path) + link;
    }
    return path;
}

// A name for the temporary file no other writer picks: the process, a
// per-process counter and the clock. The target's own name is cut short so
// that the temporary one stays within the system's limit.
std::string temp_name(const std::string& target) {
    static std::atomic<unsigned long> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string base = (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 128);
    const auto tick = static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count());
    return folder_of(target) + "." + base + "." + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(tick % 1000000) + ".tmp";
}

}  // namespace

AtomicWriter::AtomicWriter(std::string path) : path_(std::move(path)) {
    if (path_.empty()) throw FileError(ENOENT, path_);
    target_ = follow_links(path_);
    struct stat st;
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    int fd = -1;
    if (exists && !S_ISREG(st.st_mode)) {
        // A device, a pipe, a folder: opened as it is (a folder then fails).
        in_place_ = true;
        fd = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) throw FileError(errno, path_);
    } else {
        // Replacing a file the caller may not write to would bypass its
        // permissions: refuse as opening it would.
        if (exists && ::access(target_.c_str(), W_OK) != 0) throw FileError(errno, path_);
        for (int attempt = 0; fd < 0; ++attempt) {
            temp_ = temp_name(target_);
            fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0 || (errno == EEXIST && attempt < 100)) continue;
            const int code = errno;
            temp_.clear();
            if (!exists || (code != EACCES && code != EPERM)) throw FileError(code, path_);
            // A file the caller may write in a folder it may not: written in
            // place, as an ordinary open would, and never removed.
            in_place_ = true;
            fd = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0) throw FileError(errno, path_);
        }
        if (exists && !in_place_) {
            // The new file keeps the old one's permissions and, where this
            // process may set it, its owner.
            (void)::fchmod(fd, st.st_mode & 07777);
            if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::fchown(fd, st.st_uid, st.st_gid);
        }
    }
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        const int code = errno;
        ::close(fd);
        fail(code);
    }
}

AtomicWriter::~AtomicWriter() { discard(); }

void AtomicWriter::discard() noexcept {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

void AtomicWriter::fail(int code) {
    discard();
    throw FileError(code ? code : EIO, path_);
}

void AtomicWriter::write(const void* data, std::size_t size) {
    if (size == 0) return;
    if (!file_) fail(EBADF);
    if (std::fwrite(data, 1, size, file_) != size) fail(errno);
}

void AtomicWriter::commit() {
    if (!file_) fail(EBADF);
    if (std::fflush(file_) != 0) fail(errno);
    // Devices and pipes have nothing to sync (and may refuse to).
    if (!in_place_ && ::fsync(::fileno(file_)) != 0) fail(errno);
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) fail(errno);
    if (in_place_) return;
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) fail(errno);
    temp_.clear();
}

}  // namespace tamlor
