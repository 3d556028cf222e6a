#include "acquisition/TcpConnect.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tcp {

namespace {

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

Pending startConnect(const QHostAddress& address, quint16 port) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_INET;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    } else {
        return {-1, QStringLiteral("not an internet address")};
    }
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {-1, errorText(errno)};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0 &&
        errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        return {-1, errorText(error)};
    }
    return {fd, {}};
}

std::optional<QString> finishConnect(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == 0)
        return std::nullopt;
    return errorText(error);
}

void closeDescriptor(int fd) {
    if (fd >= 0)
        ::close(fd);
}

} // namespace tcp
