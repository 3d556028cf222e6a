#include "TestServer.h"

#include <chrono>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

std::string TestServer::Request::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    return {};
}

TestServer::TestServer() {
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::lock_guard lock(mutex_);
        requests_.push_back({req.path, req.target, req.headers});
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

TestServer::~TestServer() {
    stop();
}

void TestServer::start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() is a no-op until the accept loop runs, so wait for it.
    while (!server_.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TestServer::stop() {
    if (thread_.joinable()) {
        server_.stop();
        thread_.join();
    }
}

QString TestServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

std::vector<TestServer::Request> TestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> TestServer::targets() const {
    std::vector<std::string> out;
    for (const Request& r : requests())
        out.push_back(r.target);
    return out;
}

int unusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}
