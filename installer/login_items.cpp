#include "installer/login_items.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <span>

#include "platform/files/file_io.h"

namespace vexa::installer {

namespace {

constexpr const char* kDesktopSuffix = ".desktop";
// An autostart entry is a few hundred bytes; a longer line is no entry of ours.
constexpr std::size_t kMaxLineLength = 64 * 1024;

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The escapes of a desktop entry's string values.
std::string unescaped(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's': out += ' '; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            default: out += value[i]; break;
        }
    }
    return out;
}

// What the autostart rules need of an entry: Name= and Hidden= of its
// [Desktop Entry] group (not the translated Name[xx]=).
struct EntryKeys {
    bool readable = false;
    std::optional<std::string> name;
    bool hidden = false;
};

EntryKeys readEntry(const std::string& path) {
    EntryKeys keys;
    std::ifstream in(path);
    if (!in) return keys;
    keys.readable = true;
    bool inMainGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > kMaxLineLength) return EntryKeys{};
        const std::string text = trimmed(line);
        if (text.empty() || text[0] == '#') continue;
        if (text[0] == '[') {
            inMainGroup = text == "[Desktop Entry]";
            continue;
        }
        const auto eq = text.find('=');
        if (!inMainGroup || eq == std::string::npos) continue;
        const std::string key = trimmed(text.substr(0, eq));
        const std::string value = unescaped(trimmed(text.substr(eq + 1)));
        if (key == "Name" && !keys.name) keys.name = value;
        if (key == "Hidden") keys.hidden = value == "true";
    }
    return keys;
}

// The *.desktop names of a folder; nullopt when the folder exists but cannot
// be read. A folder that is not there has no entries.
std::optional<std::vector<std::string>> entryNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR) return names;
        return std::nullopt;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (endsWith(name, kDesktopSuffix) && name.size() > std::string(kDesktopSuffix).size()) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

int makeFolders(const std::string& folder) {
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        partial = folder.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return -errno;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return -errno;
    return S_ISDIR(st.st_mode) ? 0 : -ENOTDIR;
}

// The inverse of unescaped() for what a value may not hold raw.
std::string escaped(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::vector<std::string> splitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto colon = text.find(':', start);
        const std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!part.empty()) parts.push_back(part);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return parts;
}

}  // namespace

std::string deletingPathExtension(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.rfind('/');
    const std::size_t componentStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = p.rfind('.');
    if (dot == std::string::npos || dot <= componentStart) return p;
    return p.substr(0, dot);
}

bool loginItemMatches(const std::string& displayName, const std::string& name) {
    return deletingPathExtension(displayName) == deletingPathExtension(name);
}

int removeMatchingLoginItems(LoginItemList* list, const char* name) {
    if (list == nullptr || name == nullptr) return 0;
    int passes = 0;
    while (passes < kMaxLoginItemPasses) {
        std::optional<std::vector<LoginItem>> items = list->snapshot();
        ++passes;
        if (!items) break;
        bool removed = false;
        for (const LoginItem& item : *items) {
            if (!item.displayName || !loginItemMatches(*item.displayName, name)) continue;
            if (list->remove(item) == 0) removed = true;
        }
        if (!removed) break;
    }
    return passes;
}

AutostartLoginItems::AutostartLoginItems(std::string userFolder, std::vector<std::string> systemFolders)
    : userFolder_(std::move(userFolder)), systemFolders_(std::move(systemFolders)) {}

std::unique_ptr<AutostartLoginItems> AutostartLoginItems::forCurrentUser() {
    std::string configHome;
    const char* xdgConfigHome = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    // Relative paths in the XDG variables are invalid and ignored.
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        configHome = xdgConfigHome;
    } else if (home != nullptr && home[0] == '/') {
        configHome = std::string(home) + "/.config";
    } else {
        return nullptr;
    }
    const char* xdgConfigDirs = std::getenv("XDG_CONFIG_DIRS");
    std::vector<std::string> systemFolders;
    for (const std::string& dir : splitColons(xdgConfigDirs != nullptr ? xdgConfigDirs : ""))
        if (dir[0] == '/') systemFolders.push_back(dir + "/autostart");
    if (systemFolders.empty()) systemFolders.push_back("/etc/xdg/autostart");
    return std::make_unique<AutostartLoginItems>(configHome + "/autostart", std::move(systemFolders));
}

std::optional<std::string> AutostartLoginItems::systemEntry(const std::string& id) const {
    for (const std::string& folder : systemFolders_)
        if (exists(folder + "/" + id)) return folder + "/" + id;
    return std::nullopt;
}

std::optional<std::vector<LoginItem>> AutostartLoginItems::snapshot() {
    std::optional<std::vector<std::string>> userNames = entryNames(userFolder_);
    if (!userNames) return std::nullopt;
    std::set<std::string> seen;
    std::vector<LoginItem> items;
    auto add = [&](const std::string& folder, const std::string& id) {
        if (!seen.insert(id).second) return;
        const EntryKeys keys = readEntry(folder + "/" + id);
        if (keys.hidden) return;
        items.push_back({id, keys.readable ? keys.name : std::nullopt});
    };
    for (const std::string& id : *userNames) add(userFolder_, id);
    for (const std::string& folder : systemFolders_)
        if (std::optional<std::vector<std::string>> names = entryNames(folder))
            for (const std::string& id : *names) add(folder, id);
    return items;
}

int AutostartLoginItems::remove(const LoginItem& item) {
    if (item.id.empty() || item.id.find('/') != std::string::npos) return -EINVAL;
    const std::string userPath = userFolder_ + "/" + item.id;
    if (!systemEntry(item.id)) return ::unlink(userPath.c_str()) == 0 ? 0 : -errno;
    // Deleting the user's file would bring the system's entry back: hide it.
    if (const int r = makeFolders(userFolder_); r < 0) return r;
    std::string entry = "[Desktop Entry]\nType=Application\n";
    if (item.displayName) entry += "Name=" + escaped(*item.displayName) + "\n";
    entry += "Hidden=true\n";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(entry.data());
    return vexa::files::writeFileAtomically(userPath, std::span<const std::uint8_t>(bytes, entry.size()));
}

}  // namespace vexa::installer
