// How the driver service appears on the system bus. The driver publishes
// these names; clients that find and configure driver instances use the
// same header.
#pragma once

namespace vexa::driverbus {

// Bus name the service owns.
inline constexpr char kBusName[] = "mirlan.driver.VexaOrla";
// The systemd unit that runs the service; its file in the unit search path
// means "the driver is installed".
inline constexpr char kServiceUnit[] = "mirlan.driver.VexaOrla.service";
// The object manager; each driver instance is one object below it.
inline constexpr char kManagerPath[] = "/mirlan/driver/VexaOrla";
// Interface of the manager object itself: the driver's identity.
inline constexpr char kManagerInterface[] = "mirlan.driver.VexaOrla.Manager";
inline constexpr char kVersionProperty[] = "Version";  // s
// The driver's version, as its clients and the About window's dump show it.
inline constexpr char kDriverVersion[] = "4.0";

// Interface of each instance object.
inline constexpr char kInterface[] = "mirlan.driver.VexaOrla";

// Read-only properties of an instance.
inline constexpr char kClassProperty[] = "Class";            // s
inline constexpr char kVendorIDProperty[] = "VendorID";      // i
inline constexpr char kProductIDProperty[] = "ProductID";    // i
inline constexpr char kLocationIDProperty[] = "LocationID";  // u

// SetProperties(a{sv} properties) -> i status (0 or a negative errno).
inline constexpr char kSetPropertiesMethod[] = "SetProperties";

// Value of Class for driver instances.
inline constexpr char kDriverClass[] = "mirlan_VexaOrla";
// Key of the 256-byte table (value ay) in SetProperties.
inline constexpr char kKeymapProperty[] = "VexaKeyMap";

}  // namespace vexa::driverbus
