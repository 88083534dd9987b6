// The feed fetch reads https through libcurl: it must verify the server against the same trust
// store as the download client's TLS layer, and a refused certificate is just a failed fetch.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <filesystem>

#include "platform/headless_application.h"
#include "platform/url_reader.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

namespace platform {
namespace {

std::string Canonical(const char* path) {
    return path ? std::filesystem::weakly_canonical(path).string() : "(none)";
}

TEST(UrlReaderTls, TrustsTheSystemStoreOfTheDownloadClient) {
    CURL* easy = curl_easy_init();
    ASSERT_TRUE(easy);
    char* caFile = nullptr;
    char* caPath = nullptr;
    curl_easy_getinfo(easy, CURLINFO_CAINFO, &caFile);
    curl_easy_getinfo(easy, CURLINFO_CAPATH, &caPath);
    EXPECT_EQ(Canonical(caFile), Canonical(X509_get_default_cert_file()));
    EXPECT_EQ(Canonical(caPath), Canonical(X509_get_default_cert_dir()));
    curl_easy_cleanup(easy);
}

TEST(UrlReaderTls, AnUntrustedServerIsAFailedFetch) {
    HeadlessApplication app;
    Application* previous = SetApplication(&app);
    test_support::TlsTestServer server(test_support::Certificates().server);
    server.AddConnection({"HTTP/1.0 200 OK\r\n\r\n<rss/>"});
    auto session = UrlSession::Open("InetURL:/1.0");
    ASSERT_TRUE(session);
    EXPECT_FALSE(session->OpenUrl(server.Url("/feed")));
    EXPECT_TRUE(server.Requests().empty());
    SetApplication(previous);
}

}  // namespace
}  // namespace platform
