#pragma once

#include <httplib.h>

#include <QString>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A real HTTP server on 127.0.0.1 at a free port, recording every request it gets. Register the
// handlers on server() before start().
class TestServer {
public:
    struct Request {
        std::string path;
        std::string target; // path and query exactly as sent
        httplib::Headers headers;
        std::string header(const std::string& name) const;
    };

    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    httplib::Server& server() { return server_; }
    void start();
    void stop();
    int port() const { return port_; }
    QString baseUrl() const;
    std::vector<Request> requests() const;
    std::vector<std::string> targets() const;

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
int unusedPort();
