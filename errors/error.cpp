#include "errors/error.h"

#include <cstring>

vexa::Error vexa::Error::posix(int errnum) {
    Error e;
    e.domain = "NSPOSIXErrorDomain";
    e.code = errnum;
    e.localizedDescription = std::strerror(errnum);
    return e;
}
