#include "platform/registry/object_messages.h"

#include <systemd/sd-bus.h>

#include <cstring>

#include "driver/bus_names.h"

namespace vexa::registry {

namespace {

// Reads one integer of basic type `type` widened to 64 bits.
template <typename T>
int readWidened(sd_bus_message* m, char type, PropertyValue* out) {
    T value{};
    const int r = sd_bus_message_read_basic(m, type, &value);
    if (r < 0) return r;
    *out = static_cast<std::int64_t>(value);
    return 0;
}

// The value inside a variant whose signature is `contents`.
int readValue(sd_bus_message* m, const char* contents, PropertyValue* out) {
    if (contents[0] != '\0' && contents[1] == '\0') {
        switch (contents[0]) {
        case 'y': return readWidened<std::uint8_t>(m, 'y', out);
        case 'n': return readWidened<std::int16_t>(m, 'n', out);
        case 'q': return readWidened<std::uint16_t>(m, 'q', out);
        case 'i': return readWidened<std::int32_t>(m, 'i', out);
        case 'u': return readWidened<std::uint32_t>(m, 'u', out);
        case 'x': return readWidened<std::int64_t>(m, 'x', out);
        case 't': return readWidened<std::uint64_t>(m, 't', out);
        case 's':
        case 'o': {
            const char* text = nullptr;
            const int r = sd_bus_message_read_basic(m, contents[0], &text);
            if (r < 0) return r;
            *out = std::string(text);
            return 0;
        }
        default: break;
        }
    }
    *out = std::monostate{};
    const int r = sd_bus_message_skip(m, contents);
    return r < 0 ? r : 0;
}

// a{sa{sv}}: the properties of the instance interface, if it is there.
int readInterfaces(sd_bus_message* m, std::map<std::string, PropertyValue>* properties, bool* isInstance) {
    *isInstance = false;
    int r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
        const char* interface = nullptr;
        if ((r = sd_bus_message_read_basic(m, 's', &interface)) < 0) return r;
        if (std::strcmp(interface, driverbus::kInterface) == 0) {
            *isInstance = true;
            r = readPropertyMap(m, properties);
        } else {
            r = sd_bus_message_skip(m, "a{sv}");
        }
        if (r < 0) return r;
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    r = sd_bus_message_exit_container(m);
    return r < 0 ? r : 0;
}

}  // namespace

int readPropertyMap(sd_bus_message* m, std::map<std::string, PropertyValue>* properties) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        const char* contents = nullptr;
        if ((r = sd_bus_message_read_basic(m, 's', &key)) < 0) return r;
        if ((r = sd_bus_message_peek_type(m, nullptr, &contents)) < 0) return r;
        if ((r = sd_bus_message_enter_container(m, 'v', contents)) < 0) return r;
        PropertyValue value;
        if ((r = readValue(m, contents, &value)) < 0) return r;
        (*properties)[key] = std::move(value);
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    r = sd_bus_message_exit_container(m);
    return r < 0 ? r : 0;
}

int readManagedObjects(sd_bus_message* reply, const std::string& owner, std::vector<ObjectRecord>* out) {
    int r = sd_bus_message_enter_container(reply, 'a', "{oa{sa{sv}}}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(reply, 'e', "oa{sa{sv}}")) > 0) {
        const char* path = nullptr;
        if ((r = sd_bus_message_read_basic(reply, 'o', &path)) < 0) return r;
        ObjectRecord record{owner, path, {}};
        bool isInstance = false;
        if ((r = readInterfaces(reply, &record.properties, &isInstance)) < 0) return r;
        if (isInstance) out->push_back(std::move(record));
        if ((r = sd_bus_message_exit_container(reply)) < 0) return r;
    }
    if (r < 0) return r;
    r = sd_bus_message_exit_container(reply);
    return r < 0 ? r : 0;
}

int readInterfacesAdded(sd_bus_message* signal, const std::string& owner, ObjectRecord* out, bool* isInstance) {
    const char* path = nullptr;
    int r = sd_bus_message_read_basic(signal, 'o', &path);
    if (r < 0) return r;
    *out = ObjectRecord{owner, path, {}};
    return readInterfaces(signal, &out->properties, isInstance);
}

int readInterfacesRemoved(sd_bus_message* signal, std::string* path, bool* isInstance) {
    *isInstance = false;
    const char* p = nullptr;
    int r = sd_bus_message_read_basic(signal, 'o', &p);
    if (r < 0) return r;
    *path = p;
    if ((r = sd_bus_message_enter_container(signal, 'a', "s")) < 0) return r;
    const char* interface = nullptr;
    while ((r = sd_bus_message_read_basic(signal, 's', &interface)) > 0) {
        if (std::strcmp(interface, driverbus::kInterface) == 0) *isInstance = true;
    }
    if (r < 0) return r;
    r = sd_bus_message_exit_container(signal);
    return r < 0 ? r : 0;
}

}  // namespace vexa::registry
