// How logind appears on the system bus: the names the console-user watch
// reads, shared with the tests' stand-in for logind.
#pragma once

namespace vexa::logind {

inline constexpr char kBusName[] = "org.freedesktop.login1";
inline constexpr char kSeatPath[] = "/org/freedesktop/login1/seat/seat0";
inline constexpr char kSeatInterface[] = "org.freedesktop.login1.Seat";
inline constexpr char kSessionInterface[] = "org.freedesktop.login1.Session";
// Properties read: the seat's ActiveSession (so), the session's User (uo) and Name (s).
inline constexpr char kActiveSession[] = "ActiveSession";
inline constexpr char kUser[] = "User";
inline constexpr char kName[] = "Name";

}  // namespace vexa::logind
