// Removal of login items that earlier generations of the suite left behind:
// the pass loop over a list of login items (pure: it only calls the list),
// and the current user's XDG autostart entries as that list.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vexa::installer {

// One item of a snapshot: what the list needs to remove it, and its display
// name (nullopt when it has none).
struct LoginItem {
    std::string id;
    std::optional<std::string> displayName;
};

// A user's login items.
class LoginItemList {
public:
    virtual ~LoginItemList() = default;
    // The items as they are now; nullopt when the list cannot be read.
    virtual std::optional<std::vector<LoginItem>> snapshot() = 0;
    // 0 when the item is gone, else a negative errno.
    virtual int remove(const LoginItem& item) = 0;
};

// The path without its extension: the part of the last component from its
// last dot on (a dot that does not start the component), trailing slashes
// dropped first. "a/b.app" -> "a/b", ".hidden" -> ".hidden", "x..y" -> "x.".
std::string deletingPathExtension(const std::string& path);

// An item matches a name when both, without their extensions, are the same
// text (case-sensitive).
bool loginItemMatches(const std::string& displayName, const std::string& name);

// Removes every item matching `name`: passes over fresh snapshots until a
// pass removes nothing, at most kMaxLoginItemPasses. A null list or name does
// nothing. Returns the number of snapshots taken.
inline constexpr int kMaxLoginItemPasses = 5;
int removeMatchingLoginItems(LoginItemList* list, const char* name);

// The XDG autostart entries of the current user: the *.desktop files of the
// user's folder ($XDG_CONFIG_HOME/autostart) and of the system's folders
// ($XDG_CONFIG_DIRS, each + /autostart), where a user file hides a system
// file of the same name and the first system folder wins. An entry with
// Hidden=true is no login item. The display name is the entry's Name=.
class AutostartLoginItems : public LoginItemList {
public:
    AutostartLoginItems(std::string userFolder, std::vector<std::string> systemFolders);

    // The folders from the environment ($XDG_CONFIG_HOME or $HOME/.config;
    // $XDG_CONFIG_DIRS or /etc/xdg). Null when neither $XDG_CONFIG_HOME nor
    // $HOME is set.
    static std::unique_ptr<AutostartLoginItems> forCurrentUser();

    std::optional<std::vector<LoginItem>> snapshot() override;
    // Deletes the user's file; where a system file of the same name would
    // then show again (or there is only a system file), writes a user entry
    // with Hidden=true instead.
    int remove(const LoginItem& item) override;

private:
    std::optional<std::string> systemEntry(const std::string& id) const;

    std::string userFolder_;
    std::vector<std::string> systemFolders_;
};

}  // namespace vexa::installer
