// The reason a failed download gives the user: what the client reported, sorted into one sentence
// in the interface language, first as a table of reports, then from servers that fail for real.
#include <openssl/ssl.h>

#include <string>
#include <vector>

#include "app/failure_reason.h"
#include "http/http_cli.h"
#include "log/qtx_logger.h"
#include "tests/app/feed_monitor_fixture.h"
#include "tests/support/scripted_http_server.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_test_server.h"

namespace app {
namespace {

using namespace test_support;

constexpr std::uint16_t kCutShort = 7;

DownloadFailure Unanswered(std::uint16_t error, const std::string& tlsText = "",
                           std::uint16_t clientError = 0) {
    DownloadFailure failure;
    failure.host = "cdn.example";
    failure.status = 404;
    failure.statusReason = "whatever the client said";
    failure.connectionError = error;
    failure.tlsText = tlsText;
    failure.clientError = clientError;
    return failure;
}

DownloadFailure Answered(int status, const std::string& reason, std::uint16_t error = 0) {
    DownloadFailure failure;
    failure.host = "cdn.example";
    failure.answered = true;
    failure.status = status;
    failure.statusReason = reason;
    failure.connectionError = error;
    return failure;
}

TEST(FailureReasonTest, EachReportReadsAsOneReasonInEitherLanguage) {
    struct Case {
        DownloadFailure failure;
        std::string german, english;
    };
    DownloadFailure lookup = Unanswered(11001);
    DownloadFailure scheme = Unanswered(0);
    scheme.status = 501;
    DownloadFailure headerless = Unanswered(0);
    headerless.status = 0;
    const std::vector<Case> cases = {
        {Answered(404, "Not Found"), "404 Not Found", "404 Not Found"},
        // A complete answer stays what the server said, however the connection ended after it.
        {Answered(403, "Forbidden", 20104), "403 Forbidden", "403 Forbidden"},
        {headerless, "Der Server hat nicht mit HTTP geantwortet",
         "The server did not answer in HTTP"},
        {lookup,
         "Der Servername cdn.example ist unbekannt (prüfen Sie die Adresse und die "
         "Internetverbindung)",
         "The server name cdn.example is unknown (check the address and the Internet connection)"},
        {Unanswered(10061), "cdn.example nimmt keine Verbindung an (prüfen Sie die Adresse)",
         "cdn.example refuses the connection (check the address)"},
        {Unanswered(10065), "cdn.example ist nicht erreichbar (prüfen Sie die Internetverbindung)",
         "cdn.example cannot be reached (check the Internet connection)"},
        {Unanswered(10054, "", kCutShort), "Der Server hat die Verbindung zurückgesetzt",
         "The connection was reset by the server"},
        {Unanswered(10060), "Keine Antwort von cdn.example", "No answer from cdn.example"},
        {Unanswered(0, "", kCutShort),
         "Der Server hat die Verbindung vor dem Ende der Datei beendet",
         "The server closed the connection before the end of the file"},
        {Unanswered(20104, "connection closed without close_notify", kCutShort),
         "Der Server hat die Verbindung vor dem Ende der Datei beendet",
         "The server closed the connection before the end of the file"},
        {Unanswered(20102, "certificate verify failed: host name mismatch"),
         "Das Zertifikat des Servers gilt für einen anderen Namen (erwartet: cdn.example)",
         "The server's certificate is for another name (expected cdn.example)"},
        {Unanswered(20102, "certificate verify failed: certificate has expired"),
         "Das Zertifikat des Servers ist abgelaufen", "The server's certificate has expired"},
        {Unanswered(20102, "certificate verify failed: certificate is not yet valid"),
         "Das Zertifikat des Servers ist noch nicht gültig (prüfen Sie die Uhr des Rechners)",
         "The server's certificate is not valid yet (check the computer's clock)"},
        {Unanswered(20102, "certificate verify failed: unable to get local issuer certificate"),
         "Das Zertifikat des Servers stammt von keiner vertrauenswürdigen Stelle",
         "The server's certificate is not from a trusted authority"},
        {Unanswered(20102, "certificate verify failed: self-signed certificate"),
         "Das Zertifikat des Servers stammt von keiner vertrauenswürdigen Stelle",
         "The server's certificate is not from a trusted authority"},
        {Unanswered(20102, "certificate verify failed: certificate revoked"),
         "Das Zertifikat des Servers wurde nicht angenommen",
         "The server's certificate was not accepted"},
        {Unanswered(20101, "tlsv1 alert protocol version"),
         "Der Server beherrscht nur eine veraltete TLS-Version",
         "The server only speaks an outdated TLS version"},
        {Unanswered(20101, "unsupported protocol"),
         "Der Server beherrscht nur eine veraltete TLS-Version",
         "The server only speaks an outdated TLS version"},
        {Unanswered(20101, "wrong version number"),
         "Der Server antwortet nicht mit TLS (versuchen Sie die Adresse mit http://)",
         "The server does not answer in TLS (try the address with http://)"},
        {Unanswered(20105, "tlsv13 alert certificate required", kCutShort),
         "Der Server verlangt ein Client-Zertifikat", "The server asks for a client certificate"},
        {Unanswered(20101, "sslv3 alert handshake failure"),
         "Der Server hat die sichere Verbindung abgelehnt",
         "The server refused the secure connection"},
        {Unanswered(20105, "decryption failed or bad record mac", kCutShort),
         "Die sichere Verbindung zum Server ist fehlgeschlagen",
         "The secure connection to the server failed"},
        {Unanswered(20008), "Der SOCKS-Proxy konnte keine Verbindung zu cdn.example herstellen",
         "The SOCKS proxy could not connect to cdn.example"},
        {Unanswered(0, "", 8), "Die Antwort des Servers ist nicht lesbar",
         "The server's answer cannot be read"},
        {scheme, "Nur http- und https-Adressen können geladen werden",
         "Only http and https addresses can be downloaded"},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(FailureReasonText(0, test.failure), test.german) << test.english;
        EXPECT_EQ(FailureReasonText(1, test.failure), test.english) << test.english;
    }
    // The numbers and the library's words are kept for the trace.
    const std::string detail = FailureDetail(Unanswered(10054, "", kCutShort));
    EXPECT_NE(detail.find("#10054 (Connection reset by peer)"), std::string::npos) << detail;
    EXPECT_NE(FailureDetail(Unanswered(20101, "wrong version number")).find("wrong version number"),
              std::string::npos);
}

class FailedDownloadReasonTest : public testing::FeedMonitorTest {
  protected:
    FailedDownloadReasonTest() : folder_(programDir_ + "downloads/") { view_.folderText = folder_; }

    // A new feed whose one episode is at url.
    void AddFeedOf(const std::string& url) {
        feeds_.AddConnection(
            NormalResponse(200, "<rss><channel><item><enclosure url=\"" + url +
                                    "\" type=\"audio/mpeg\"/></item></channel></rss>"));
        monitor_->AddEntry(feeds_.Url("/feed" + std::to_string(++feedsAdded_)));
    }

    std::string folder_;
    ScriptedHttpServer feeds_;
    int feedsAdded_ = 0;
};

TEST_F(FailedDownloadReasonTest, RealFailuresAreNamedInTheInterfaceLanguage) {
    const TestCertificates& certificates = Certificates();
    TlsTestServer good(certificates.server);
    TlsTestServer expired(certificates.expired);
    TlsTestServer wrongHost(certificates.wrongHost);
    ScriptedHttpServer plain;
    const std::string partial = "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\nthe first part";
    struct Case {
        std::string name;
        std::function<std::string(const std::string& name)> serve;  // the episode's address
        std::string german, english;
    };
    const std::vector<Case> cases = {
        {"other-name.mp3",
         [&](const std::string& name) {
             wrongHost.AddConnection({"HTTP/1.0 200 OK\r\n\r\nnot to be kept"});
             return wrongHost.Url("/" + name);
         },
         "Das Zertifikat des Servers gilt für einen anderen Namen (erwartet: 127.0.0.1)",
         "The server's certificate is for another name (expected 127.0.0.1)"},
        {"expired.mp3",
         [&](const std::string& name) {
             expired.AddConnection({"HTTP/1.0 200 OK\r\n\r\nnot to be kept"});
             return expired.Url("/" + name);
         },
         "Das Zertifikat des Servers ist abgelaufen", "The server's certificate has expired"},
        {"old-tls.mp3",
         [&](const std::string& name) {
             good.AddConnection(
                 {.response = "HTTP/1.0 200 OK\r\n\r\nx", .maxVersion = TLS1_1_VERSION});
             return good.Url("/" + name);
         },
         "Der Server beherrscht nur eine veraltete TLS-Version",
         "The server only speaks an outdated TLS version"},
        {"client-certificate.mp3",
         [&](const std::string& name) {
             good.AddConnection(
                 {.response = "HTTP/1.0 200 OK\r\n\r\nx", .requireClientCertificate = true});
             return good.Url("/" + name);
         },
         "Der Server verlangt ein Client-Zertifikat", "The server asks for a client certificate"},
        {"in-clear.mp3",
         [&](const std::string& name) {
             good.AddConnection({.response = "HTTP/1.0 200 OK\r\n\r\nplain", .inClear = true});
             return good.Url("/" + name);
         },
         "Der Server antwortet nicht mit TLS (versuchen Sie die Adresse mit http://)",
         "The server does not answer in TLS (try the address with http://)"},
        {"no-close-notify.mp3",
         [&](const std::string& name) {
             good.AddConnection({.response = partial, .ending = TlsEnding::CutWithoutNotify});
             return good.Url("/" + name);
         },
         "Der Server hat die Verbindung vor dem Ende der Datei beendet",
         "The server closed the connection before the end of the file"},
        {"tls-reset.mp3",
         [&](const std::string& name) {
             good.AddConnection({.response = partial, .ending = TlsEnding::Reset});
             return good.Url("/" + name);
         },
         "Der Server hat die Verbindung zurückgesetzt", "The connection was reset by the server"},
        {"reset.mp3",
         [&](const std::string& name) {
             plain.AddConnection(RawResponse(partial, AfterResponse::Reset));
             return plain.Url("/" + name);
         },
         "Der Server hat die Verbindung zurückgesetzt", "The connection was reset by the server"},
        {"refused.mp3", [](const std::string& name) { return "http://127.0.0.1:1/" + name; },
         "127.0.0.1 nimmt keine Verbindung an (prüfen Sie die Adresse)",
         "127.0.0.1 refuses the connection (check the address)"},
        {"silent.mp3",
         [&](const std::string& name) {
             plain.AddConnection(StalledResponse());
             return plain.Url("/" + name);
         },
         "2 Sekunden lang keine Antwort von 127.0.0.1",
         "No answer from 127.0.0.1 for 2 seconds"},
        {"missing.mp3",
         [&](const std::string& name) {
             plain.AddConnection(NormalResponse(404, "<html>gone</html>"));
             return "http://me:secret@" + plain.Url("/" + name).substr(7);
         },
         "404 Not Found", "404 Not Found"},
    };
    // The trace keeps what the box leaves out.
    std::vector<std::string> traced;
    TQtxLogger trace;
    trace.SetLogOptions({loDestEvent, loProtSpecErr});
    trace.SetOnQtxLogEvent([&](platform::TComponent*, TLogOption, const std::string& line) {
        if (line.starts_with("Download of ")) traced.push_back(line);
    });
    monitor_->HttpCli1()->SetQtxLogger(&trace);
    monitor_->HttpCli1()->SslExtraCaFile = certificates.caFile;
    // Long enough for the first handshake, which reads the system's trust store, in a sanitized
    // build; the silent server costs that long once per language.
    monitor_->DownloadInactivityLimit = std::chrono::seconds(2);
    for (const std::string language : {"de", "en"}) {
        while (monitor_->FeedCount() > 0)
            monitor_->DelEintrag(0);
        if (language == "en") monitor_->InEnglish();
        for (const Case& test : cases)
            AddFeedOf(test.serve(language + "-" + test.name));

        monitor_->Button3Click();

        const std::vector<FailedDownload>& failed = monitor_->FailedDownloads();
        ASSERT_EQ(failed.size(), cases.size()) << language;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            EXPECT_EQ(failed[i].FileName, language + "-" + cases[i].name);
            EXPECT_EQ(failed[i].Reason, language == "en" ? cases[i].english : cases[i].german)
                << failed[i].FileName;
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
    ASSERT_EQ(traced.size(), 2 * cases.size());
    EXPECT_NE(traced[4].find("in-clear.mp3 failed: "), std::string::npos) << traced[4];
    EXPECT_NE(traced[4].find("error #20101, TLS: wrong version number"), std::string::npos)
        << traced[4];
    for (const std::string& line : traced)
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

}  // namespace
}  // namespace app
