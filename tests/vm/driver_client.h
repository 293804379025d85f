// The guest tests' view of the driver: its process, and its objects on the
// system bus.
#pragma once

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>


namespace vexa::guest {

// The VexaOrla service: a child process, or (given a unit name) the
// systemd unit, started and stopped with systemctl.
class DriverProcess {
public:
    explicit DriverProcess(std::string unit = "") : unit_(std::move(unit)) {}
    ~DriverProcess();
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;
    // Starts it and waits until it is up: the driver owns its bus name.
    bool start(int timeoutMs = 10000);
    // SIGTERM and wait; the exit status, or -1 when it had to be killed.
    int stop(int timeoutMs = 5000);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool isUnit() const { return !unit_.empty(); }
    // A child process: waits for it to end on its own, calling `idle`
    // (which should wait a little) or sleeping between looks; its exit
    // status, or -1 when it is still running after timeoutMs.
    int waitExit(int timeoutMs, const std::function<void()>& idle = {});
    // A unit: waits until systemd has started it again after its process
    // ended (a new main process that owns the bus name); false on timeout.
    bool waitRestarted(int timeoutMs);
    // A unit: how often systemd has restarted it.
    int restarts() const;

private:
    bool startUnit(int timeoutMs);
    int stopUnit();

    std::string unit_;
    pid_t pid_ = -1;  // the unit's main process when it runs as a unit
};

struct InstanceInfo {
    std::string path;
    std::string cls;
    std::int32_t vendor = 0;
    std::int32_t product = 0;
    std::uint32_t location = 0;
};

// InterfacesAdded or InterfacesRemoved of the driver's object manager for
// an object that carries the instance interface.
struct ManagerSignal {
    std::string member;
    std::string path;
    friend bool operator==(const ManagerSignal&, const ManagerSignal&) = default;
};

class DriverBus {
public:
    // Connects to the system bus and listens to the object manager's signals.
    DriverBus();
    ~DriverBus();
    DriverBus(const DriverBus&) = delete;
    DriverBus& operator=(const DriverBus&) = delete;
    bool connected() const { return bus_ != nullptr; }
    // A new connection, after the bus daemon was gone.
    void reconnect();
    bool nameHasOwner();
    // GetManagedObjects of the driver; empty when it is not there.
    std::vector<InstanceInfo> instances();
    // Properties.Get of an instance's Class; "" when the call failed
    // (message in `error`).
    std::string getClass(const std::string& path, std::string* error);
    // The object manager's signals received so far (pending ones are read first).
    const std::vector<ManagerSignal>& managerSignals();
    // Waits for an InterfacesAdded among the signals from index `from` on,
    // calling `idle` at least every 10 ms; its object path, or "" on timeout.
    std::string waitForAdded(std::size_t from, int timeoutMs, const std::function<void()>& idle);
    // SetProperties with {"VexaKeyMap": ay table}; the returned status, or
    // INT32_MIN when the call failed (message in `error`).
    std::int32_t setKeymap(const std::string& path, const std::vector<std::uint8_t>& table, std::string* error);

    // The same call without waiting for its answer; the answers are read by
    // waitForAnswers. False when the call cannot be sent.
    bool sendKeymap(const std::string& path, const std::vector<std::uint8_t>& table);
    // Reads answers until at most `pending` calls sent by sendKeymap wait
    // for theirs; false on timeout.
    bool waitForAnswers(std::size_t pending, int timeoutMs);
    // Answers that were an error or a status other than 0, and the first
    // such answer's text.
    int failedAnswers() const { return failedAnswers_; }
    const std::string& firstFailure() const { return firstFailure_; }

private:
    static int onKeymapAnswer(sd_bus_message* m, void* self, sd_bus_error*);
    int newKeymapCall(const std::string& path, const std::vector<std::uint8_t>& table, sd_bus_message** m);
    void connect();
    void disconnect();
    void handleManagerSignal(sd_bus_message* m);

    sd_bus* bus_ = nullptr;
    sd_bus_slot* match_ = nullptr;
    std::vector<ManagerSignal> signals_;
    std::size_t pendingAnswers_ = 0;
    int failedAnswers_ = 0;
    std::string firstFailure_;
};

}  // namespace vexa::guest
