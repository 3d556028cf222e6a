// The HTTP layer against a real server on loopback.
#include "net/HttpClient.h"
#include "QtPrinters.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

namespace {

HttpOptions options(std::size_t limit = 1 << 20) {
    HttpOptions o;
    o.userAgent = QStringLiteral("Groundsway (Mac; Mac OS; June 2012)");
    o.idleTimeoutSeconds = 1;
    o.maxBodyBytes = limit;
    return o;
}

} // namespace

TEST(HttpClient, SendsOnlyTheUserAgentBesidesCurlsOwnHeaders) {
    TestServer server;
    server.server().Get("/x", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("hello", "text/plain");
    });
    server.start();
    QString error;
    const auto r = httpGet(server.baseUrl() + "/x", options(), &error);
    ASSERT_TRUE(r) << error.toStdString();
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->body, "hello");
    const auto req = server.requests().at(0);
    EXPECT_EQ(req.header("User-Agent"), "Groundsway (Mac; Mac OS; June 2012)");
    std::set<std::string> names;
    for (const auto& [k, v] : req.headers)
        if (k != "REMOTE_ADDR" && k != "REMOTE_PORT" && k != "LOCAL_ADDR" && k != "LOCAL_PORT")
            names.insert(k);
    EXPECT_EQ(names, (std::set<std::string>{"Accept", "Host", "User-Agent"}));
    EXPECT_EQ(req.header("Accept"), "*/*");
}

TEST(HttpClient, ErrorStatusesComeBackWithTheirBodies) {
    TestServer server;
    server.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("Error 404: Not Found", "text/plain");
    });
    server.start();
    const auto r = httpGet(server.baseUrl() + "/missing", options(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_EQ(r->body, "Error 404: Not Found");
}

TEST(HttpClient, FollowsRedirects) {
    TestServer server;
    server.server().Get(
        "/old", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/new"); });
    server.server().Get("/new", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("moved", "text/plain");
    });
    server.start();
    const auto r = httpGet(server.baseUrl() + "/old", options(), nullptr);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "moved");
}

TEST(HttpClient, BodiesBeyondTheLimitFailWhetherOrNotTheirLengthIsAnnounced) {
    TestServer server;
    const std::string big(5000, 'x');
    server.server().Get("/sized", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(big, "text/plain");
    });
    server.server().Get("/chunked", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain",
                                         [&](std::size_t offset, httplib::DataSink& sink) {
                                             if (offset < big.size())
                                                 sink.write(big.data() + offset, 1000);
                                             else
                                                 sink.done();
                                             return true;
                                         });
    });
    server.start();
    for (const char* path : {"/sized", "/chunked"}) {
        QString error;
        EXPECT_FALSE(httpGet(server.baseUrl() + path, options(4096), &error)) << path;
        EXPECT_TRUE(error.contains("larger than 4096 bytes")) << error.toStdString();
        EXPECT_TRUE(httpGet(server.baseUrl() + path, options(5000), &error)) << path;
    }
}

TEST(HttpClient, TransportFailuresAreDescribed) {
    QString error;
    EXPECT_FALSE(
        httpGet(QStringLiteral("http://127.0.0.1:%1/").arg(unusedPort()), options(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(httpGet(QStringLiteral("ftp://127.0.0.1/file"), options(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(httpGet(QStringLiteral("file:///etc/passwd"), options(), &error));
}

// A trickle never trips the idle watch; the overall deadline ends it. A cancel flag and the
// process-wide abort end a transfer within a tenth of a second or so.
TEST(HttpClient, TheDeadlineAndACancelEndATransferThatStillTrickles) {
    TestServer server;
    std::atomic<bool> stop{false};
    server.server().Get("/drip", [&stop](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [&stop](std::size_t, httplib::DataSink& sink) {
            for (int i = 0; i < 5 && !stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return !stop && sink.write("x", 1);
        });
    });
    server.start();
    HttpOptions o = options();
    o.deadlineSeconds = 1;
    QString error;
    HttpFailure kind = HttpFailure::Transport;
    EXPECT_FALSE(httpGet(server.baseUrl() + "/drip", o, &error, &kind));
    EXPECT_EQ(kind, HttpFailure::Timeout);
    EXPECT_EQ(error, u"The request timed out: not complete after 1 seconds.");

    std::atomic<bool> cancel{false};
    o.deadlineSeconds = 0;
    o.cancel = &cancel;
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(httpGet(server.baseUrl() + "/drip", o, &error, &kind));
    canceller.join();
    EXPECT_EQ(kind, HttpFailure::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    stop = true;
}

// The idle limit counts from the last byte, not from the start: a transfer that keeps moving,
// however slowly, runs past it and completes; one that stops moving fails once the limit has
// passed since its last byte.
TEST(HttpClient, TheIdleLimitCountsFromTheLastByte) {
    struct Row {
        const char* path;
        int bytes;        // sent one at a time, 150 ms apart
        bool thenSilence; // and then nothing, for longer than the idle limit
    };
    const Row rows[] = {{"/steady", 10, false}, {"/stops", 3, true}};
    TestServer server;
    std::atomic<bool> stop{false};
    for (const Row& row : rows)
        server.server().Get(
            row.path, [&stop, row](const httplib::Request&, httplib::Response& res) {
                res.set_chunked_content_provider(
                    "text/plain", [&stop, row](std::size_t offset, httplib::DataSink& sink) {
                        for (int i = 0; i < 3 && !stop; ++i)
                            std::this_thread::sleep_for(std::chrono::milliseconds(50));
                        if (static_cast<int>(offset) < row.bytes)
                            return !stop && sink.write("x", 1);
                        for (int i = 0; row.thenSilence && i < 60 && !stop; ++i)
                            std::this_thread::sleep_for(std::chrono::milliseconds(50));
                        sink.done();
                        return true;
                    });
            });
    server.start();
    HttpOptions o = options(); // idle limit 1 s
    o.deadlineSeconds = 0;
    QString error;
    HttpFailure kind = HttpFailure::Transport;
    const auto steady = httpGet(server.baseUrl() + "/steady", o, &error, &kind);
    ASSERT_TRUE(steady) << error.toStdString(); // 1.5 s in all, never a second without a byte
    EXPECT_EQ(steady->body, QByteArray(10, 'x'));
    EXPECT_FALSE(httpGet(server.baseUrl() + "/stops", o, &error, &kind));
    EXPECT_EQ(kind, HttpFailure::Timeout);
    EXPECT_EQ(error, u"The request timed out: no data for 1 seconds.");
    stop = true;
}
