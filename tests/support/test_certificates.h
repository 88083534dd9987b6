// Throw-away certificates for TLS tests, made once per test program with the openssl command line
// tool in a temporary folder: a CA, and server certificates signed by it for 127.0.0.1 (and ::1)
// and localhost (valid and expired), for localhost alone and for another host name. Trust the CA
// through the client's extra CA file (or curl --cacert); without it every one of them is untrusted.
#pragma once

#include <string>

namespace test_support {

struct CertificateAndKey {
    std::string certificateFile;
    std::string keyFile;
};

struct TestCertificates {
    std::string caFile;
    CertificateAndKey server;     // 127.0.0.1, ::1 and localhost, valid
    CertificateAndKey expired;    // 127.0.0.1 and localhost, expired yesterday
    CertificateAndKey wrongHost;  // only "other.example"
    CertificateAndKey namedOnly;  // only "localhost", no address: checking the address fails
};

// Made on the first call; throws std::runtime_error naming the step when openssl fails.
const TestCertificates& Certificates();

}  // namespace test_support
