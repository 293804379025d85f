#include "driver/bus_object.h"

#include <systemd/sd-bus.h>

#include <cstring>

#include "driver/bus_names.h"

namespace vexa {

namespace {

BusObjectData* dataOf(void* userdata) { return static_cast<BusObjectData*>(userdata); }

int getClass(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "s", driverbus::kDriverClass);
}

int getVendorID(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                sd_bus_error*) {
    return sd_bus_message_append(reply, "i", dataOf(userdata)->driver->getVendorID());
}

int getProductID(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                 sd_bus_error*) {
    return sd_bus_message_append(reply, "i", dataOf(userdata)->driver->getProductID());
}

int getLocationID(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                  sd_bus_error*) {
    return sd_bus_message_append(reply, "u", dataOf(userdata)->locationID);
}

int readVariant(sd_bus_message* m, const char* contents, PropertyValue* out) {
    if (std::strcmp(contents, "ay") == 0) {
        const void* bytes = nullptr;
        size_t size = 0;
        const int r = sd_bus_message_read_array(m, 'y', &bytes, &size);
        if (r < 0) return r;
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        *out = std::vector<std::uint8_t>(p, p + size);
        return 0;
    }
    if (contents[0] != '\0' && contents[1] == '\0') {
        union {
            std::uint8_t y;
            std::int16_t n;
            std::uint16_t q;
            std::int32_t i;
            std::uint32_t u;
            std::int64_t x;
            std::uint64_t t;
            int b;
            const char* s;
        } v{};
        switch (contents[0]) {
        case 'y': { int r = sd_bus_message_read_basic(m, 'y', &v.y); *out = std::int64_t{v.y}; return r < 0 ? r : 0; }
        case 'n': { int r = sd_bus_message_read_basic(m, 'n', &v.n); *out = std::int64_t{v.n}; return r < 0 ? r : 0; }
        case 'q': { int r = sd_bus_message_read_basic(m, 'q', &v.q); *out = std::int64_t{v.q}; return r < 0 ? r : 0; }
        case 'i': { int r = sd_bus_message_read_basic(m, 'i', &v.i); *out = std::int64_t{v.i}; return r < 0 ? r : 0; }
        case 'u': { int r = sd_bus_message_read_basic(m, 'u', &v.u); *out = std::int64_t{v.u}; return r < 0 ? r : 0; }
        case 'x': { int r = sd_bus_message_read_basic(m, 'x', &v.x); *out = v.x; return r < 0 ? r : 0; }
        case 'b': { int r = sd_bus_message_read_basic(m, 'b', &v.b); *out = v.b != 0; return r < 0 ? r : 0; }
        case 's': {
            int r = sd_bus_message_read_basic(m, 's', &v.s);
            if (r < 0) return r;
            *out = std::string(v.s);
            return 0;
        }
        default: break;
        }
    }
    *out = std::monostate{};
    const int r = sd_bus_message_skip(m, contents);
    return r < 0 ? r : 0;
}

int setPropertiesMethod(sd_bus_message* m, void* userdata, sd_bus_error*) {
    PropertyDictionary properties;
    const int r = readPropertyDictionary(m, &properties);
    if (r < 0) return r;
    const IOReturn status = dataOf(userdata)->driver->setProperties(&properties);
    return sd_bus_reply_method_return(m, "i", status);
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY(driverbus::kClassProperty, "s", getClass, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY(driverbus::kVendorIDProperty, "i", getVendorID, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY(driverbus::kProductIDProperty, "i", getProductID, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY(driverbus::kLocationIDProperty, "u", getLocationID, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD_WITH_ARGS(driverbus::kSetPropertiesMethod, SD_BUS_ARGS("a{sv}", properties),
                            SD_BUS_RESULT("i", status), setPropertiesMethod, 0),
    SD_BUS_VTABLE_END,
};

int getVersion(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "s", driverbus::kDriverVersion);
}

const sd_bus_vtable kManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY(driverbus::kVersionProperty, "s", getVersion, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END,
};

}  // namespace

int readPropertyDictionary(sd_bus_message* m, PropertyDictionary* out) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r < 0) return r;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        r = sd_bus_message_read_basic(m, 's', &key);
        if (r < 0) return r;
        const char* contents = nullptr;
        r = sd_bus_message_peek_type(m, nullptr, &contents);
        if (r < 0) return r;
        r = sd_bus_message_enter_container(m, 'v', contents);
        if (r < 0) return r;
        PropertyValue value;
        r = readVariant(m, contents, &value);
        if (r < 0) return r;
        (*out)[key] = std::move(value);
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
        if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0) return r;
    r = sd_bus_message_exit_container(m);
    return r < 0 ? r : 0;
}

int addDriverManagerObject(sd_bus* bus, sd_bus_slot** slot) {
    return sd_bus_add_object_vtable(bus, slot, driverbus::kManagerPath, driverbus::kManagerInterface, kManagerVtable,
                                    nullptr);
}

int addDriverBusObject(sd_bus* bus, const std::string& path, BusObjectData* data, sd_bus_slot** slot) {
    return sd_bus_add_object_vtable(bus, slot, path.c_str(), driverbus::kInterface, kVtable, data);
}

}  // namespace vexa
