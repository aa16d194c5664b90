#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>

#include "common/file_system.hpp"

namespace tamlor::file_system {
namespace {

// The errno value nearest to a system error code.
int errno_of(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

bool failed() {
    errno = errno_of(GetLastError());
    return false;
}

// The system's calls take UTF-16 paths; ours are UTF-8. Text that is not
// UTF-8 names no file (EILSEQ) rather than some other one.
bool widen(const std::string& path, std::wstring& out) {
    out.clear();
    if (path.empty()) return true;
    if (path.size() > static_cast<std::size_t>(INT_MAX)) {
        errno = ENAMETOOLONG;
        return false;
    }
    const int size = static_cast<int>(path.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (n <= 0) {
        errno = EILSEQ;
        return false;
    }
    out.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, out.data(), n);
    return true;
}

bool status_of(HANDLE handle, Status& out) {
    out = Status{};
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return failed();
        out.kind = Kind::other;  // the console, NUL, a pipe
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return failed();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        out.kind = Kind::directory;
    } else {
        out.kind = Kind::regular;
        out.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    return true;
}

bool is_directory(const std::wstring& wide) {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

// Drive letters count as a folder: "C:name" is "name" in drive C's folder.
std::size_t folder_end(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\:");
    return separator == std::string::npos ? 0 : separator + 1;
}

bool status(const std::string& path, Status& out) {
    std::wstring wide;
    if (!widen(path, wide)) return false;
    // Asking for no access opens devices and folders alike, and follows links.
    const HANDLE handle = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failed();
    const bool ok = status_of(handle, out);
    const int code = errno;
    CloseHandle(handle);
    errno = code;
    return ok;
}

bool status(int fd, Status& out) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    return status_of(handle, out);
}

// Windows links are not followed: making one takes a privilege ordinary
// users lack, and a file put in place of one leaves the file it named as it
// was (the link alone is replaced).
std::string follow_links(std::string path) { return path; }

// A file's own permission on Windows is its read-only attribute (what else
// the folder's access lists refuse, opening the file reports).
bool writable(const std::string& path) {
    std::wstring wide;
    if (!widen(path, wide)) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failed();
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EACCES;
        return false;
    }
    return true;
}

int open(const std::string& path, Open how) {
    std::wstring wide;
    if (!widen(path, wide)) return -1;
    constexpr int always = _O_BINARY | _O_NOINHERIT;
    int fd = -1;
    switch (how) {
        case Open::read:
            fd = _wopen(wide.c_str(), _O_RDONLY | always);
            // Folders cannot be opened as files here: say what it is.
            if (fd < 0 && errno == EACCES && is_directory(wide)) errno = EISDIR;
            return fd;
        case Open::create_new:
            return _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | always, _S_IREAD | _S_IWRITE);
        case Open::create_or_trunc:
            return _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | always, _S_IREAD | _S_IWRITE);
        case Open::trunc_existing:
            return _wopen(wide.c_str(), _O_WRONLY | _O_TRUNC | always);
    }
    errno = EINVAL;
    return -1;
}

void close(int fd) noexcept { _close(fd); }

long long read(int fd, void* p, std::size_t n) { return _read(fd, p, static_cast<unsigned>(n)); }

bool seek(int fd, std::uint64_t offset) { return _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) >= 0; }

// Nothing to carry over: the read-only attribute (a file's only permission
// of its own) is never set on a file that is replaced, since read-only
// files are refused; access lists come from the folder, as for any new
// file; and an owner cannot be given away by an ordinary process.
void carry_over(int, const Status&) noexcept {}

std::FILE* stream(int fd) { return _fdopen(fd, "wb"); }

bool sync(std::FILE* file) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    return FlushFileBuffers(handle) ? true : failed();
}

// Write-through: the rename itself is on the disk before this returns.
bool replace(const std::string& from, const std::string& to) {
    std::wstring wide_from;
    std::wstring wide_to;
    if (!widen(from, wide_from) || !widen(to, wide_to)) return false;
    return MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? true
               : failed();
}

void remove(const std::string& path) noexcept {
    std::wstring wide;
    if (widen(path, wide)) DeleteFileW(wide.c_str());
}

unsigned long process_id() noexcept { return GetCurrentProcessId(); }

}  // namespace tamlor::file_system

#endif
