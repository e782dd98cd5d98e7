// The machine's address table through getifaddrs.
#include "devices/addresses.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace tarvelo::devices {

QStringList Get_Ip_List()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        throw AddressTableError("GetIpAddrTable failed with return value " + std::to_string(errno));
    QStringList out;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            out << QString::fromLatin1(text);
    }
    ::freeifaddrs(list);
    sortByOctets(out);
    return out;
}

}  // namespace tarvelo::devices
