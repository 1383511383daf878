// The device connection service as a person runs it, on a fresh device
// root, and the desktop's side of the remote API on a fresh desktop root:
// pairing with the shown code, calls over the protected channel, and the
// refusals and time limits around them.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "DeviceLinkFixture.h"

namespace tbm::rapi {
namespace {

using namespace tbm::testing::run_program_detail;

TEST_F(DeviceLinkTest, PairingWithTheShownCodeThenCallsRunOverTheProtectedChannel) {
  const std::string partnerId = Pair();
  ASSERT_EQ(partnerId.size(), 16u);
  const tbm::testing::ProgramResult listed = Devicelink({"partnerships"});
  EXPECT_EQ(listed.out, partnerId + "  Front desk\n");
  // Both registries keep the same key; the code appears in neither.
  const std::string deviceRegistry = tbm::testing::ReadWholeFile(device_.path() / "registry.reg");
  EXPECT_NE(deviceRegistry.find(partnerId), std::string::npos);

  std::unique_ptr<Service> service = Run();
  ASSERT_EQ(CeRapiInit(), S_OK) << RapiFailureText();
  EXPECT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED);
  WCHAR path[64];
  ASSERT_EQ(CeGetTempPath(64, path), 6u) << RapiFailureText();
  EXPECT_EQ(std::u16string(path), u"\\Temp\\");
  EXPECT_EQ(CeGetTempPath(3, path), 7u);  // the size needed, terminator included
  EXPECT_EQ(CeGetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(CeRapiGetError(), S_OK);
  EXPECT_EQ(CeRapiUninit(), S_OK);

  const tbm::testing::ProgramResult shown = Desktop({"temp-path"});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out, "\\Temp\\\n");

  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
  EXPECT_NE(DeviceLog().find("partner " + partnerId + " connected"), std::string::npos);
}

TEST_F(DeviceLinkTest, WrongCodesAreRefusedAndTheThirdSpendsTheCode) {
  Service pairing({"pair", "--port", "0", "--time-limit", "60"}, Env());
  const std::string code = pairing.WaitFor("Pairing code: ([0-9]{8})");
  const std::string address = pairing.WaitFor("on (127\\.0\\.0\\.1:[0-9]+)");
  ASSERT_FALSE(address.empty()) << pairing.err;
  const std::string wrong = code == "00000000" ? "11111111" : "00000000";

  // A code that is not eight digits costs no try.
  EXPECT_NE(Desktop({"pair", address, "12ab"}).err.find("8 digits"), std::string::npos);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    const tbm::testing::ProgramResult tried = Desktop({"pair", address, wrong});
    EXPECT_EQ(tried.status, 1);
    EXPECT_NE(tried.err.find("did not accept the code " + wrong), std::string::npos) << tried.err;
  }
  EXPECT_EQ(pairing.End(), 1);
  EXPECT_NE(pairing.err.find("3 wrong codes were tried"), std::string::npos) << pairing.err;
  // The right code is no good any more: nobody listens.
  EXPECT_NE(Desktop({"pair", address, code}).err.find("nothing listens"), std::string::npos);
  DesktopPartnership none;
  EXPECT_EQ(LoadDesktopPartnership(&none).code(), StatusCode::kNotFound);
  EXPECT_EQ(Devicelink({"partnerships"}).out.find("No desktop is paired"), 0u);
}

TEST_F(DeviceLinkTest, UnpairedDesktopsAndWrongKeysAreRefusedWithNothingServed) {
  const std::string partnerId = Pair();
  std::unique_ptr<Service> service = Run();
  DesktopPartnership real;
  ASSERT_TRUE(LoadDesktopPartnership(&real).ok());

  // Bytes that are not a handshake at all.
  UniqueFd raw;
  ASSERT_TRUE(ConnectTcp(real.address, Milliseconds(2000), &raw).ok());
  const std::string junk = "GET / HTTP/1.0\r\n\r\n";
  ::send(raw.get(), junk.data(), junk.size(), MSG_NOSIGNAL);

  DesktopPartnership stranger = real;
  stranger.partnerId = "00112233aabbccdd";
  ASSERT_TRUE(SaveDesktopPartnership(stranger).ok());
  EXPECT_EQ(CeRapiInit(), RAPI_E_NOT_PAIRED);
  EXPECT_NE(RapiFailureText().find("not paired"), std::string::npos) << RapiFailureText();

  DesktopPartnership wrongKey = real;
  wrongKey.key[0] ^= 1;
  ASSERT_TRUE(SaveDesktopPartnership(wrongKey).ok());
  EXPECT_EQ(CeRapiInit(), RAPI_E_NOT_PAIRED);
  WCHAR path[64] = {u'x'};
  EXPECT_EQ(CeGetTempPath(64, path), 0u);
  EXPECT_EQ(CeRapiGetError(), RAPI_E_NOT_CONNECTED);
  EXPECT_EQ(path[0], u'x');

  // The real key works until the handheld forgets the partnership.
  ASSERT_TRUE(SaveDesktopPartnership(real).ok());
  ASSERT_EQ(CeRapiInit(), S_OK) << RapiFailureText();
  EXPECT_EQ(CeRapiUninit(), S_OK);
  EXPECT_EQ(Devicelink({"forget", partnerId}).status, 0);
  EXPECT_EQ(CeRapiInit(), RAPI_E_NOT_PAIRED);
  EXPECT_NE(Devicelink({"forget", partnerId}).err.find("no partnership"), std::string::npos);

  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
  const std::string log = DeviceLog();
  EXPECT_NE(log.find("unknown partner identifier '00112233aabbccdd'"), std::string::npos) << log;
  EXPECT_NE(log.find("'" + partnerId + "' with a wrong key"), std::string::npos) << log;
  EXPECT_NE(log.find("refused a connection that offered no partnership"), std::string::npos);
}

TEST_F(DeviceLinkTest, AServiceThatStopsAnsweringGivesATimeLimitError) {
  Pair();
  std::unique_ptr<Service> service = Run();
  ASSERT_EQ(CeRapiInit(), S_OK) << RapiFailureText();
  ASSERT_TRUE(Stop(*service));
  SetCallTimeLimit(std::chrono::milliseconds(400));
  WCHAR path[64];
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(CeGetTempPath(64, path), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(CeRapiGetError(), RAPI_E_TIMEOUT);
  EXPECT_NE(RapiFailureText().find("time limit of 400 ms"), std::string::npos) << RapiFailureText();
  // The connection is closed; a new one times out in its handshake.
  EXPECT_EQ(CeRapiUninit(), S_FALSE);
  EXPECT_EQ(CeRapiInit(), RAPI_E_TIMEOUT);
  ::kill(service->pid(), SIGCONT);
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

}  // namespace
}  // namespace tbm::rapi
