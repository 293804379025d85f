#include "platform/files/file_io.h"

#include "platform/glue/log.h"
#include "platform/glue/owners.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

using vexa::Fd;
using vexa::logErrno;

vexa::files::FolderSync folderSync = &vexa::files::syncFolder;

// O_NOFOLLOW|O_DIRECTORY on a symbolic link fails with ENOTDIR; tell the
// two cases apart for a clear status.
bool isSymlinkAt(int dirfd, const std::string& name) {
    struct stat st {};
    return ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int writeAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

namespace {

enum class Links { Refuse, Follow };

// Reads `name` relative to the folder `dirfd` (or the working directory).
// With Links::Refuse a symbolic link as the last part of `name` is refused.
ErrorCode readRegularFileAt(int dirfd, const char* name, std::vector<std::uint8_t>& out, std::size_t maxSize,
                            Links links = Links::Refuse) {
    out.clear();
    const bool follow = links == Links::Follow;
    // Look before opening: a FIFO or device is refused without being opened.
    struct stat before {};
    if (::fstatat(dirfd, name, &before, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0) return -errno;
    if (S_ISLNK(before.st_mode)) return -ELOOP;
    if (!S_ISREG(before.st_mode)) return -EINVAL;
    if (static_cast<std::uint64_t>(before.st_size) > maxSize) return -EFBIG;

    // The name may have been swapped since; O_NONBLOCK (and O_NOFOLLOW when
    // links are refused) keep the open itself harmless, and fstat checks
    // that it is the same file.
    Fd fd(::openat(dirfd, name, O_RDONLY | (follow ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) return -errno;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return -errno;
    if (!S_ISREG(st.st_mode) || st.st_dev != before.st_dev || st.st_ino != before.st_ino) return -EINVAL;
    if (static_cast<std::uint64_t>(st.st_size) > maxSize) return -EFBIG;

    // Read to the end, whatever the size said: the file may grow meanwhile.
    out.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == out.size()) {
            if (out.size() > maxSize) {
                out.clear();
                return -EFBIG;
            }
            out.resize(std::min(maxSize + 1, out.size() * 2));
        }
        const ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            out.clear();
            return -err;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return 0;
}

}  // namespace

ErrorCode vexa::files::readRegularFile(const std::string& path, std::vector<std::uint8_t>& out,
                                       std::size_t maxSize) {
    return readRegularFileAt(AT_FDCWD, path.c_str(), out, maxSize);
}

ErrorCode vexa::files::readRegularFileFollowingLinks(const std::string& path, std::vector<std::uint8_t>& out,
                                                     std::size_t maxSize) {
    return readRegularFileAt(AT_FDCWD, path.c_str(), out, maxSize, Links::Follow);
}

ErrorCode vexa::files::readRegularFileBelow(const std::string& base, const std::string& relative,
                                            std::vector<std::uint8_t>& out, std::size_t maxSize) {
    out.clear();
    Fd dir(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return -errno;
    // Walk the folders one at a time, refusing symbolic links; opening a
    // folder never blocks.
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', start);
        if (slash == std::string::npos) break;
        const std::string part = relative.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return -EINVAL;
        const int next = ::openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return errno == ENOTDIR && isSymlinkAt(dir.get(), part) ? -ELOOP : -errno;
        dir = Fd(next);
    }
    const std::string name = relative.substr(start);
    if (name.empty() || name == "." || name == "..") return -EINVAL;
    return readRegularFileAt(dir.get(), name.c_str(), out, maxSize);
}

ErrorCode vexa::files::writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::string folder = folderOf(path);
    std::string temp = folder + "/." + nameOf(path) + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return -errno;

    int r = writeAll(fd.get(), bytes);
    if (r == 0 && ::fsync(fd.get()) != 0) r = -errno;
    if (r == 0) r = fd.close();
    if (r == 0 && ::rename(temp.c_str(), path.c_str()) != 0) r = -errno;
    if (r != 0) {
        fd.reset();
        ::unlink(temp.c_str());
        return r;
    }
    // Make the rename itself durable. The new file is in place already, so
    // a failure here is no failed write: reporting one would tell the user
    // a saved file was not saved.
    if (const ErrorCode synced = folderSync(folder); synced != 0) {
        logErrno(synced, SD_WARNING "%s: saved, but its folder could not be flushed to disk", path.c_str());
    }
    return 0;
}

ErrorCode vexa::files::syncFolder(const std::string& folder) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return -errno;
    if (::fsync(dir.get()) != 0) return -errno;
    return 0;
}

vexa::files::FolderSync vexa::files::setFolderSync(FolderSync sync) { return std::exchange(folderSync, sync); }

vexa::Error vexa::files::fileWriteError(const std::string& path, int errnum) {
    // Foundation's file-write codes, so the error reads like the platform's.
    // In the texts, %F stands for the file's name and %D for its folder's.
    struct Kind {
        int errnos[2];  // 0: unused
        std::int64_t code;
        const char* text;
    };
    static const Kind kKinds[] = {
        {{EACCES, EPERM}, 513, "You don't have permission to save the file %F in the folder %D."},
        {{EROFS, 0}, 642, "The file %F couldn't be saved because the volume is read only."},
        {{ENOSPC, EDQUOT}, 640, "The file %F couldn't be saved because there isn't enough space."},
        {{ENAMETOOLONG, 0}, 514, "The file %F couldn't be saved because its name is too long."},
        {{ENOENT, ENOTDIR}, 4, "The file %F couldn't be saved because the folder %D doesn't exist."},
    };
    static const Kind kOther{{0, 0}, 512, "The file %F couldn't be saved in the folder %D."};

    const Kind* kind = &kOther;
    for (const auto& k : kKinds) {
        if (errnum != 0 && (k.errnos[0] == errnum || k.errnos[1] == errnum)) kind = &k;
    }
    const std::string file = "\u201C" + nameOf(path) + "\u201D";
    const std::string folder = "\u201C" + nameOf(folderOf(path)) + "\u201D";
    Error e;
    e.domain = "NSCocoaErrorDomain";
    e.code = kind->code;
    for (const char* c = kind->text; *c != '\0'; ++c) {
        if (c[0] == '%' && (c[1] == 'F' || c[1] == 'D')) {
            e.localizedDescription += *++c == 'F' ? file : folder;
        } else {
            e.localizedDescription += *c;
        }
    }
    e.underlying = std::make_shared<const Error>(Error::posix(errnum));
    return e;
}
