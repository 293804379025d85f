#include "platform/files/file_io.h"

#include "platform/glue/log.h"
#include "platform/glue/owners.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
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

namespace {

// The links a path may pass through before the kernel, too, gives up.
constexpr int kMaxLinkHops = 40;

// Replaces `path` with `bytes` through a temporary file beside it; the new
// file gets `mode`, or mkostemp's 0600 when none is given.
ErrorCode replaceFile(const std::string& path, std::span<const std::uint8_t> bytes, std::optional<mode_t> mode) {
    const std::string folder = folderOf(path);
    std::string temp = folder + "/." + nameOf(path) + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0) return -errno;

    int r = writeAll(fd.get(), bytes);
    if (r == 0 && mode && ::fchmod(fd.get(), *mode) != 0) r = -errno;
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

// Follows the links at the end of `path` to the path of the file they lead
// to, which need not exist. Each link's text counts from the folder the link
// lies in, as the kernel counts it; folders on the way are the kernel's to
// resolve. `found` receives what lies at the end (st_mode 0: nothing).
// The target is named in its folder's real path when that folder exists.
ErrorCode resolveLinks(std::string path, std::string& target, struct stat& found) {
    for (int hops = 0;; ++hops) {
        if (::lstat(path.c_str(), &found) != 0) {
            if (errno != ENOENT) return -errno;
            found = {};
            break;
        }
        if (!S_ISLNK(found.st_mode)) break;
        if (hops == kMaxLinkHops) return -ELOOP;
        // A user's link could lead a root process to any file of the system.
        if (::geteuid() == 0 && found.st_uid != 0) return -EACCES;
        char text[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), text, sizeof text);
        if (n < 0) return -errno;
        if (n == 0) return -ENOENT;
        if (static_cast<std::size_t>(n) == sizeof text) return -ENAMETOOLONG;
        const std::string next(text, static_cast<std::size_t>(n));
        path = next.front() == '/' ? next : folderOf(path) + "/" + next;
    }
    // Name the file by its real folder where there is one, for messages.
    std::unique_ptr<char, decltype(&std::free)> folder(::realpath(folderOf(path).c_str(), nullptr), &std::free);
    target = folder ? std::string(folder.get()) + "/" + nameOf(path) : std::move(path);
    return 0;
}

}  // namespace

ErrorCode vexa::files::writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    return replaceFile(path, bytes, std::nullopt);
}

ErrorCode vexa::files::writeFileThroughLinks(const std::string& path, std::span<const std::uint8_t> bytes,
                                             std::string* written) {
    if (written != nullptr) written->clear();
    std::string target;
    struct stat found {};
    if (const ErrorCode r = resolveLinks(path, target, found); r != 0) return r;
    if (written != nullptr) *written = target;
    std::optional<mode_t> mode;
    if (S_ISREG(found.st_mode)) mode = found.st_mode & 0777;
    return replaceFile(target, bytes, mode);
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
