// The Digest answer of the POSIX client (base/http_digest.h) against the RFCs' examples; its use
// on the wire is in http_client_posix_test.cpp.
#include "base/http_digest.h"

#include <string>

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(HttpDigestTest, AnswersAsTheRfcsExamplesDo) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex(std::string(60, 'a')), "cc7ed669cf88f201c3297c6a91e1d18d");
  std::string eighty;  // RFC 1321, A.5
  for (int i = 0; i < 8; ++i) eighty += "1234567890";
  EXPECT_EQ(Md5Hex(eighty), "57edf4a22be3c955ac49da2e2107b67a");
  DigestChallenge challenge;
  // RFC 2617, 3.5 (its uri, qop auth, nc 00000001, cnonce 0a4f113b).
  ASSERT_TRUE(ParseDigestChallenge(
      R"( realm="testrealm@host.com", qop="auth,auth-int", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093",)"
      R"( opaque="5ccc069c403ebaf9f0171e9517f40e41")",
      &challenge));
  EXPECT_EQ(DigestAuthorization(challenge, "Mufasa", "Circle Of Life", "GET", "/dir/index.html", "",
                                "0a4f113b"),
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", qop=auth, "
            "nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\", "
            "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
  EXPECT_FALSE(ParseDigestChallenge(R"(realm="r", nonce="n", algorithm=SHA-256)", &challenge));
  EXPECT_FALSE(ParseDigestChallenge(R"(realm="r", qop="auth-conf", nonce="n")", &challenge));
  EXPECT_FALSE(ParseDigestChallenge(R"(realm="r")", &challenge));
}

}  // namespace
}  // namespace qx
