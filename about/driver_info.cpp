#include "about/driver_info.h"

#include <QStringDecoder>

namespace vexa::about {

const char* const kDriverInfoCommand =
    "for d in /sys/bus/hid/devices/*; do "
    "[ -e \"$d\" ] || continue; "
    "for u in $(find \"$(readlink -f \"$d\")\" -name uevent ! -path '*/power/*' | sort); do "
    "udevadm info --query=all --path=\"${u%/uevent}\"; echo; "
    "done; "
    "done";

QString driverInfoText(const QByteArray& output) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(output);
    if (utf8.hasError()) text = QString::fromLatin1(output);
    return text.isEmpty() ? QString::fromLatin1(kNoListingText) : text;
}

}  // namespace vexa::about
