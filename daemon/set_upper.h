// SetUpperClass: the set-up daemon's one object. It keeps every driver
// instance loaded with the tables of the user at the console: when an
// instance appears, when the console user changes, and when the editor
// sends "Reconfigure". Its watchers all run on the thread's default
// sd-event loop, so their handlers never overlap.
//
// Operations are grouped by module; each module's failures have codes of
// its own: 100 start and stop, 110 console session, 120 driver
// notifications, 130 keyboard set-up, 140 "Reconfigure", 150 reconnection.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "devnotify/devnotify.h"
#include "errors/error_stack.h"
#include "keymap/keymap.h"
#include "platform/console/console.h"
#include "prefs/reconfigure.h"

enum : ErrorCode {
    kSetUpperErrLoginNotify = 1000032,         // installLoginNotify failed
    kSetUpperErrDeviceNotify = 1000036,        // installDeviceNotify failed
    kSetUpperErrSetUpperNotify = 1000039,      // registerSetUpperNotification failed
    kSetUpperErrNoStore = 1100025,             // the console store could not be opened
    kSetUpperErrNoKey = 1100028,               // the console-user key could not be made
    kSetUpperErrWatchKey = 1100031,            // watching the key failed
    kSetUpperErrNoLoopSource = 1100034,        // the store could not be attached to the loop
    kSetUpperErrLoginPass = 1100088,           // a pass after a console-user change failed
    kSetUpperErrInstallDevices = 1200022,      // KZ722installDeviceNotify failed
    kSetUpperErrAddedPass = 1200043,           // a pass over new instances failed
    kSetUpperErrNoInstance = 1300022,          // instance handle 0 or table null
    kSetUpperErrNoData = 1300025,              // the table's value could not be made
    kSetUpperErrSetProperty = 1300029,         // setting the table failed (status pushed)
    kSetUpperErrNoIds = 1300042,               // vendor or product unreadable (module 722 code pushed)
    kSetUpperErrReadTable = 1300049,           // reading the user's table failed
    kSetUpperErrWriteTable = 1300054,          // setupKeyboardKeymap failed
    kSetUpperErrIterator = 1300069,            // a setupKeyboard failed
    kSetUpperErrSearch = 1300081,              // the search for driver instances failed (status pushed)
    kSetUpperErrAllKeyboards = 1300086,        // setupKeyboardsWithIterator failed
    kSetUpperErrRegister = 1400018,            // KZ730registerSetUpperNotification failed
    kSetUpperErrReconfigurePass = 1400037,     // a pass after "Reconfigure" failed
    // reconnect_vexa, each after the step's negative errno (reconnection.h):
    kSetUpperErrFindDevice = 1500170,          // the device's sysfs folder is gone
    kSetUpperErrFindAuthorized = 1500180,      // the device has no `authorized` attribute
    kSetUpperErrOpenAuthorized = 1500188,      // `authorized` cannot be opened or read
    kSetUpperErrReEnumerate = 1500195,         // writing 0 and then 1 to it failed, or it reads 0
};

class SetUpperClass : public DeviceNotifyClient, public vexa::SetUpperNotificationObserver {
public:
    SetUpperClass() = default;
    ~SetUpperClass() override;
    SetUpperClass(const SetUpperClass&) = delete;
    SetUpperClass& operator=(const SetUpperClass&) = delete;

    // Module 100.
    void start();
    void stop();
    const std::optional<std::string>& sessionUser() const { return sessionUser_; }
    void setSessionUser(std::optional<std::string> user) { sessionUser_ = std::move(user); }
    const std::optional<std::string>& sessionHost() const { return sessionHost_; }
    void setSessionHost(std::optional<std::string> host) { sessionHost_ = std::move(host); }
    std::uint32_t sessionUID() const { return sessionUID_; }
    std::uint32_t sessionGID() const { return sessionGID_; }

    // Module 110: console session.
    ErrorCode installLoginNotify();
    void removeLoginNotify();
    static void Session_Notify(vexa::console::ConsoleStore* store, void* info);
    void loginNotify();
    bool updateSessionInfo();
    void getCurrentUserHostUserNameUidGid(std::optional<std::string>* host, std::optional<std::string>* user,
                                          std::uint32_t* uid, std::uint32_t* gid);

    // Module 120: driver notifications.
    ErrorCode installDeviceNotify();
    void removeDeviceNotify();
    bool takesDeviceAddedNotify() const override { return true; }
    void deviceAddedNotify(std::uint32_t iterator) override;

    // Module 130: keyboard set-up.
    ErrorCode setupKeyboardKeymap(std::uint32_t entry, const std::uint8_t* keymap);
    ErrorCode setupKeyboard(std::uint32_t entry);
    ErrorCode setupKeyboardsWithIterator(std::uint32_t iterator);
    ErrorCode setupAllKeyboards();

    // Module 140: "Reconfigure".
    ErrorCode registerSetUpperNotification();
    void removeSetUpperNotification();
    void setUpperNotification(const vexa::Notification& notification) override;

    // Module 150: reconnection of keyboards no driver instance serves.
    ErrorCode reconnecter();

private:
    ErrorCode readSessionTable(KeymapType type, std::uint8_t* keymap);

    DeviceNotifyInfo* deviceNotifyInfo_ = nullptr;
    std::unique_ptr<vexa::console::ConsoleStore> sessionStore_;
    std::optional<std::string> sessionKey_;
    bool sessionRunLoop_ = false;  // the store is attached to the loop
    std::optional<std::string> sessionUser_;
    std::optional<std::string> sessionHost_;
    std::uint32_t sessionUID_ = 0;
    std::uint32_t sessionGID_ = 0;
    bool observing_ = false;       // the "Reconfigure" observer is registered
    // The tables read in the current pass, ANSI and JIS: every keyboard of a
    // pass gets the same saved table, and the file is read once per type.
    std::array<std::optional<std::array<std::uint8_t, KZ714_KEYMAP_SIZE>>, 2> passTables_;
    bool inPass_ = false;
};
