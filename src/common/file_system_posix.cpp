#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/file_system.hpp"

namespace tamlor::file_system {
namespace {

void fill(const struct stat& st, Status& out) {
    out.kind = S_ISREG(st.st_mode) ? Kind::regular : S_ISDIR(st.st_mode) ? Kind::directory : Kind::other;
    out.size = out.kind == Kind::regular ? static_cast<std::uint64_t>(st.st_size) : 0;
    out.mode = st.st_mode & 07777;
    out.owner = st.st_uid;
    out.group = st.st_gid;
}

}  // namespace

std::size_t folder_end(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

bool status(const std::string& path, Status& out) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    fill(st, out);
    return true;
}

bool status(int fd, Status& out) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    fill(st, out);
    return true;
}

// At most 40 links, as the system itself follows.
std::string follow_links(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return path;
        link.resize(static_cast<std::size_t>(n));
        path = (!link.empty() && link[0] == '/') ? link : path.substr(0, folder_end(path)) + link;
    }
    return path;
}

bool writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

int open(const std::string& path, Open how) {
    switch (how) {
        case Open::read: return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        case Open::create_new: return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        case Open::create_or_trunc: return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        case Open::trunc_existing: return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    }
    errno = EINVAL;
    return -1;
}

void close(int fd) noexcept { ::close(fd); }

long long read(int fd, void* p, std::size_t n) { return ::read(fd, p, n); }

bool seek(int fd, std::uint64_t offset) { return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

void carry_over(int fd, const Status& old) noexcept {
    (void)::fchmod(fd, static_cast<mode_t>(old.mode));
    if (old.owner != ::geteuid() || old.group != ::getegid()) (void)::fchown(fd, old.owner, old.group);
}

std::FILE* stream(int fd) { return ::fdopen(fd, "wb"); }

bool sync(std::FILE* file) { return ::fsync(::fileno(file)) == 0; }

bool replace(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

void remove(const std::string& path) noexcept { ::unlink(path.c_str()); }

unsigned long process_id() noexcept { return static_cast<unsigned long>(::getpid()); }

}  // namespace tamlor::file_system

#endif
