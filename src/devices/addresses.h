#pragma once
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace tarvelo::devices {

// Reading the machine's address table failed.
class AddressTableError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The third octet of a dotted address as three digits ("001", "168"); "000" for a text that does not
// have exactly three dots.
QString Ip_Part3(const QString& address);

// The machine's IPv4 addresses of every interface, ascending by address (octet by octet); throws
// AddressTableError when the table cannot be read.
QStringList Get_Ip_List();

// The last address of the list that is not a loopback address; "" when there is none.
QString Get_Local_Ip(const QStringList& addresses);

// Sorts dotted addresses ascending by their octets; texts that are not addresses keep their order
// after them.
void sortByOctets(QStringList& addresses);

}  // namespace tarvelo::devices
