#include "tests/support/test_certificates.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "tests/support/server_process.h"

namespace test_support {
namespace {

void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl failed: " + command);
}

// Signs a new key's certificate for the subject alternative names, valid for days (negative:
// already expired).
CertificateAndKey MakeServer(const TempFolder& folder, const std::string& name,
                             const std::string& altNames, int days) {
    CertificateAndKey made{folder / (name + ".pem"), folder / (name + ".key")};
    std::string request = folder / (name + ".csr");
    std::string extensions = folder / (name + ".ext");
    WriteTextFile(extensions, "subjectAltName=" + altNames + "\n");
    Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
        made.keyFile + " -out " + request + " -subj /CN=" + name);
    Run("openssl x509 -req -in " + request + " -CA " + folder / "ca.pem" + " -CAkey " +
        folder / "ca.key" + " -CAcreateserial -out " + made.certificateFile + " -days " +
        std::to_string(days) + " -extfile " + extensions);
    return made;
}

}  // namespace

const TestCertificates& Certificates() {
    static const std::unique_ptr<TempFolder> folder = std::make_unique<TempFolder>("pd_certs");
    static const TestCertificates certificates = [] {
        if (FindProgram("openssl").empty())
            throw std::runtime_error("the openssl command line tool is not installed");
        TestCertificates made;
        made.caFile = *folder / "ca.pem";
        Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
            *folder / "ca.key" + " -out " + made.caFile +
            " -days 30 -subj /CN=Podcast-Test-CA -addext basicConstraints=critical,CA:TRUE"
            " -addext keyUsage=critical,keyCertSign,cRLSign");
        made.server = MakeServer(*folder, "server", "IP:127.0.0.1,IP:::1,DNS:localhost", 30);
        made.expired = MakeServer(*folder, "expired", "IP:127.0.0.1,DNS:localhost", -1);
        made.wrongHost = MakeServer(*folder, "wronghost", "DNS:other.example", 30);
        made.namedOnly = MakeServer(*folder, "namedonly", "DNS:localhost", 30);
        return made;
    }();
    return certificates;
}

}  // namespace test_support
