// groundsway-demo-service: a stand-in for the public services on 127.0.0.1, so Groundsway shows
// real-looking work on a machine without a network.
//
//   groundsway-demo-service [--port N]     (N = 0 picks a free port; default 8765)
//
// The first line on standard output names the address; then one line per request.
#include "DemoService.h"

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    int port = 8765;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long p = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || p < 0 || p > 65535) {
                std::fprintf(stderr,
                             "groundsway-demo-service: --port needs a number from 0 to 65535\n");
                return 2;
            }
            port = static_cast<int>(p);
        } else {
            std::fprintf(stderr, "usage: groundsway-demo-service [--port N]\n");
            return 2;
        }
    }

    // Signals are taken by one thread that stops the server; the others never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::mutex out;
    demo::DemoService service(std::chrono::system_clock::now(), [&out](const std::string& line) {
        std::lock_guard lock(out);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    httplib::Server& server = service.server();
    const bool bound = port == 0 ? (port = server.bind_to_any_port("127.0.0.1")) > 0
                                 : server.bind_to_port("127.0.0.1", port);
    if (!bound) {
        std::fprintf(stderr, "groundsway-demo-service: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    {
        std::lock_guard lock(out);
        std::printf("Groundsway demo service listening on http://127.0.0.1:%d\n", port);
        std::fflush(stdout);
    }
    std::thread stopper([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        server.stop();
    });
    server.listen_after_bind();
    stopper.join();
    return 0;
}
