// Writing a file without ever destroying what the write did not create.
//
// A regular file (or a path that does not exist yet) is written to a new
// temporary file beside it, in the same folder, and renamed over the path
// only once every byte is written, flushed to the disk and closed: a failed
// write leaves an existing file exactly as it was, and a reader never sees a
// half-written one. The temporary file takes the permissions of the file it
// replaces (a new file gets the usual ones, 0666 less the umask).
//
// A symbolic link is followed to the file it names: that file is replaced,
// and the link stays. An existing file the caller may write, in a folder
// where it may not create one, is written in place (a failure there can
// leave it cut short, but never removes it). A path naming something that is not a regular file (a
// device such as /dev/null, a named pipe) is written in place, as an
// ordinary open for writing would, and is never removed. Replacing a file
// that has other hard links gives this path a new file; the other names
// keep the old one.
//
// Failures throw FileError with the caller's path. Every road out, success
// or failure, leaves no temporary file behind.
//
// On Windows the same holds with these differences: the file is flushed
// with the system's own flush and renamed over the target with a rename
// that is written through; a read-only file is refused; devices such as NUL
// are written in place. Links are not followed (the link itself is
// replaced, the file it named left as it was), and nothing of the old file
// is carried over: its only permission of its own, read-only, is refused
// anyway, and access lists come from the folder as for any new file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace tamlor {

class AtomicWriter {
public:
    // Opens the temporary file (or the target itself, when written in
    // place). FileError when it cannot: the folder is missing or not
    // writable, the existing file is not writable, ...
    explicit AtomicWriter(std::string path);
    // Without commit(): closes and removes the temporary file; the target
    // is untouched (in place, what was written stays written).
    ~AtomicWriter();
    AtomicWriter(const AtomicWriter&) = delete;
    AtomicWriter& operator=(const AtomicWriter&) = delete;

    // Appends `size` bytes; nothing at all for size 0 (`data` may then be
    // null). FileError when the write fails.
    void write(const void* data, std::size_t size);
    // Flushes and closes the file, then renames it over the target (synced
    // to the disk first). FileError when any step fails; the target is then
    // as it was before.
    void commit();
    // True when the target is written in place (not a regular file, or a
    // folder closed to new files).
    bool in_place() const { return in_place_; }

private:
    [[noreturn]] void fail(int code);
    void discard() noexcept;

    std::string path_;    // as the caller gave it, for errors
    std::string target_;  // the file that is replaced: links followed
    std::string temp_;    // the temporary file; empty when in place
    std::FILE* file_ = nullptr;
    bool in_place_ = false;
};

}  // namespace tamlor
