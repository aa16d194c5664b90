#include "common/atomic_writer.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>

#include "common/errors.hpp"
#include "common/file_system.hpp"

namespace tamlor {
namespace {

namespace fsys = file_system;

// A name for the temporary file no other writer picks: the process, a
// per-process counter and the clock. The target's own name is cut short so
// that the temporary one stays within the system's limit.
std::string temp_name(const std::string& target) {
    static std::atomic<unsigned long> counter{0};
    const std::size_t folder = fsys::folder_end(target);
    const std::string base = target.substr(folder, 128);
    const auto tick = static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count());
    return target.substr(0, folder) + "." + base + "." + std::to_string(fsys::process_id()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(tick % 1000000) + ".tmp";
}

}  // namespace

AtomicWriter::AtomicWriter(std::string path) : path_(std::move(path)) {
    if (path_.empty()) throw FileError(ENOENT, path_);
    target_ = fsys::follow_links(path_);
    fsys::Status st;
    const bool exists = fsys::status(target_, st);
    int fd = -1;
    if (exists && st.kind != fsys::Kind::regular) {
        // A device, a pipe, a folder: opened as it is (a folder then fails).
        in_place_ = true;
        fd = fsys::open(target_, fsys::Open::create_or_trunc);
        if (fd < 0) throw FileError(errno, path_);
    } else {
        // Replacing a file the caller may not write to would bypass its
        // permissions: refuse as opening it would.
        if (exists && !fsys::writable(target_)) throw FileError(errno, path_);
        for (int attempt = 0; fd < 0; ++attempt) {
            temp_ = temp_name(target_);
            fd = fsys::open(temp_, fsys::Open::create_new);
            if (fd >= 0 || (errno == EEXIST && attempt < 100)) continue;
            const int code = errno;
            temp_.clear();
            if (!exists || (code != EACCES && code != EPERM)) throw FileError(code, path_);
            // A file the caller may write in a folder it may not: written in
            // place, as an ordinary open would, and never removed.
            in_place_ = true;
            fd = fsys::open(target_, fsys::Open::trunc_existing);
            if (fd < 0) throw FileError(errno, path_);
        }
        // The new file keeps the old one's permissions and, where this
        // process may set it, its owner.
        if (exists && !in_place_) fsys::carry_over(fd, st);
    }
    file_ = fsys::stream(fd);
    if (!file_) {
        const int code = errno;
        fsys::close(fd);
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
        fsys::remove(temp_);
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
    if (!in_place_ && !fsys::sync(file_)) fail(errno);
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) fail(errno);
    if (in_place_) return;
    if (!fsys::replace(temp_, target_)) fail(errno);
    temp_.clear();
}

}  // namespace tamlor
