// The few file operations the engine's file code needs, one implementation
// per platform (file_system_posix.cpp, file_system_windows.cpp, picked by
// _WIN32 at build time), so that the code above them makes no system calls
// of its own.
//
// Paths are UTF-8 text with '/' (on Windows '\' too) between folders. Files
// are C runtime descriptors on both platforms. Every call that fails returns
// a failure value and leaves the reason in errno, as an errno value: the
// Windows side turns the system's own error codes into the nearest one
// (ENOENT, EACCES, ENOSPC, ...), so FileError means the same on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tamlor::file_system {

enum class Kind { regular, directory, other };  // other: a device or a pipe

struct Status {
    Kind kind = Kind::other;
    std::uint64_t size = 0;  // regular files only
    // What a replacement must carry over from the file it replaces (POSIX:
    // the permission bits, the owner and the group; unused on Windows).
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
};

// The position just past the last folder separator of `path` (0 for a bare
// name): path.substr(0, n) is its folder with the separator.
std::size_t folder_end(const std::string& path);

// What `path` names, links followed. False (errno set) when it cannot be
// examined, for instance because nothing is there.
bool status(const std::string& path, Status& out);
// What an open descriptor refers to. False (errno set) on failure.
bool status(int fd, Status& out);

// Follows symbolic links to the path they finally name, which need not
// exist yet. A path that cannot be examined comes back as it is.
std::string follow_links(std::string path);

// True when the caller may write the existing file at `path`; false with
// errno set (EACCES for a read-only file) when it may not.
bool writable(const std::string& path);

enum class Open {
    read,             // an existing file, for reading
    create_new,       // a new file, for writing; EEXIST when one is there
    create_or_trunc,  // for writing, created when missing, emptied when not
    trunc_existing,   // an existing file, for writing, emptied
};
// A descriptor, not inherited by child processes; -1 with errno set on
// failure (EISDIR for a folder opened for reading).
int open(const std::string& path, Open how);
void close(int fd) noexcept;
// Up to n bytes (n at most 1 GiB); 0 at the end; -1 with errno set (EINTR
// when a signal interrupted the wait).
long long read(int fd, void* p, std::size_t n);
// Moves to `offset` from the start. False with errno set on failure.
bool seek(int fd, std::uint64_t offset);

// Gives a freshly created file what `old` carries (see Status), as far as
// this process may. Nothing is reported: a copy that is refused leaves the
// file the caller's own, as any new file would be.
void carry_over(int fd, const Status& old) noexcept;

// A buffered binary stream for writing to `fd`, which it then owns; null
// with errno set on failure (the descriptor is then still the caller's).
std::FILE* stream(int fd);
// Pushes a stream's written bytes through to the disk. False with errno
// set on failure.
bool sync(std::FILE* file);

// Renames `from` over `to`, replacing it, as one step. False with errno set.
bool replace(const std::string& from, const std::string& to);
void remove(const std::string& path) noexcept;

// This process's identifier, for names no other process picks.
unsigned long process_id() noexcept;

}  // namespace tamlor::file_system
