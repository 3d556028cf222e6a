#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

// One TCP connect(2) per attempt. Qt's socket engine, testing a connect that the server reset,
// calls connect(2) again on the same descriptor, which starts a new connection; against a
// server that resets during accept that makes hundreds of connects per attempt until Qt's own
// 30 s timeout. So the connect is made here and the connected descriptor handed to a
// QTcpSocket (setSocketDescriptor).
namespace tcp {

struct Pending {
    int fd = -1; // -1: failed at once, see why
    QString why;
};
// Starts a non-blocking connect; the descriptor turns writable when it is decided.
Pending startConnect(const QHostAddress& address, quint16 port);
// Once the descriptor is writable: nothing when connected, otherwise why (the caller closes it).
std::optional<QString> finishConnect(int fd);
void closeDescriptor(int fd);

} // namespace tcp
