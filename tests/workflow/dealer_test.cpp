// Dealer login and the dealer's serial number.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/workflow/workflow_fixture.h"

namespace orvik {
namespace {

using testing::Bench;
using testing::PackageSpec;
using Shown = testing::RecordingView::Shown;
using Shownlist = std::vector<Shown>;

class DealerTest : public testing::ErrorTextTest {};

TEST_F(DealerTest, DealerLoginAndSerialNumber) {
  Bench bench;
  EXPECT_FALSE(bench.controller.dealerMode());
  bench.view.passwords = {"1111", "12345678"};
  bench.controller.onDealerLogin();
  EXPECT_TRUE(bench.controller.dealerMode());
  EXPECT_FALSE(bench.view.dealerLoginEnabled);
  EXPECT_TRUE(bench.view.dealerLayout);

  struct Case {
    std::string typed;
    std::string message;
  };
  const Case cases[] = {
      {"123ABIE5678", "The serial number is incorrect."},
      {"1234ABC5678", "The serial number is identical to the radio"},
      {"123ABCD5678", "Update serial number successful."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    bench.view.messages.clear();
    bench.view.typedSerial = c.typed;
    bench.controller.onUpdateSerialNumber();
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].text, c.message);
  }
  EXPECT_EQ(bench.view.panel.serialNumber, "123ABCD5678");
}

TEST_F(DealerTest, LoginNeedsTheDealerPassword) {
  const struct {
    const char* name;
    const char* dealerPassword;
    std::deque<std::string> typed;
    std::vector<bool> hints;  // the hint line of each dialog shown: true says "not correct"
    bool dealer;
  } cases[] = {
      {"no dealer password on this machine", "", {"anything"}, {}, false},
      {"dialog closed", "4711", {}, {false}, false},
      {"only the whole text, case and all, is right",
       "Ab12",
       {"Ab1", "ab12", "Ab123", "Ab12"},
       {false, true, true, true},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PackageSpec package;
    package.dealerPassword = c.dealerPassword;
    Bench bench(package);
    bench.view.passwords = c.typed;
    bench.controller.onDealerLogin();
    EXPECT_EQ(bench.view.passwordHints, c.hints);
    EXPECT_EQ(bench.controller.dealerMode(), c.dealer);
    EXPECT_EQ(bench.view.dealerLoginEnabled, !c.dealer);
    EXPECT_EQ(bench.view.dealerLayout, c.dealer);
    EXPECT_EQ(bench.view.controls[Control::UpdateSerialNumber], c.dealer);

    // The next start of the tool begins in dealer mode only after a login.
    Config next;
    ASSERT_TRUE(bench.load(next));
    testing::RecordingView nextView;
    MainController nextStart(bench.manager, bench.task, next, nextView);
    nextStart.initialize();
    EXPECT_EQ(nextStart.dealerMode(), c.dealer);
    EXPECT_EQ(nextView.dealerLoginEnabled, !c.dealer);
    nextView.passwords = {c.dealerPassword};
    nextStart.onDealerLogin();
    // A dealer is not asked again.
    EXPECT_EQ(nextView.passwordHints.empty(), c.dealer || std::string(c.dealerPassword).empty());
  }
}

// The setup file keeps the login for the next start and is the user's alone; a login it cannot
// keep still turns dealer mode on, and the dealer is told the next start asks again.
TEST_F(DealerTest, TheLoginIsRememberedPrivatelyOrTheDealerIsTold) {
  {
    Bench bench;
    bench.view.passwords = {"12345678"};
    bench.controller.onDealerLogin();
    struct stat info {};
    ASSERT_EQ(::stat(bench.setupPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(bench.view.messages.empty());
  }
  Bench bench;
  std::filesystem::remove(bench.setupPath());
  std::filesystem::create_directory(bench.setupPath());
  bench.view.passwords = {"12345678"};
  bench.controller.onDealerLogin();
  EXPECT_TRUE(bench.controller.dealerMode());
  ASSERT_EQ(bench.view.messages.size(), 1u);
  EXPECT_EQ(bench.view.messages[0].style, kStyleWarning);
  EXPECT_NE(
      bench.view.messages[0].text.find("could not be remembered in " + bench.setupPath().string()),
      std::string::npos)
      << bench.view.messages[0].text;
  EXPECT_NE(bench.logText().find("next start asks for the password again"), std::string::npos);
}

// Logging out leaves dealer mode and forgets the login, so the next start asks again.
TEST_F(DealerTest, LogoutLeavesDealerModeForThisAndTheNextStart) {
  Bench bench;
  bench.view.passwords = {"12345678"};
  bench.controller.onDealerLogin();
  ASSERT_TRUE(bench.controller.dealerMode());

  EXPECT_TRUE(bench.controller.onDealerLogout());
  EXPECT_FALSE(bench.controller.dealerMode());
  EXPECT_TRUE(bench.view.dealerLoginEnabled);
  EXPECT_FALSE(bench.view.dealerLayout);
  EXPECT_FALSE(bench.view.controls[Control::UpdateSerialNumber]);

  Config next;
  ASSERT_TRUE(bench.load(next));
  EXPECT_EQ(next.dealerPassword, "12345678");  // the dealer password itself stays
  testing::RecordingView nextView;
  MainController nextStart(bench.manager, bench.task, next, nextView);
  nextStart.initialize();
  EXPECT_FALSE(nextStart.dealerMode());
}

TEST_F(DealerTest, SerialNumberRuleAndResults) {
  const std::vector<std::uint8_t> tenCharacters = {'1', '2', '3', '4', 'B',
                                                   'C', '5', '6', '7', '8'};
  const struct {
    const char* name;
    std::vector<std::uint8_t> radioSerial;  // empty: the simulated radio's own
    const char* typed;
    void (*arrange)(Bench&);
    Shown result;
    const char* serialAfter;  // null: unchanged
  } cases[] = {
      {"eighth character may be any letter",
       {},
       "123ABCDI678",
       nullptr,
       {"Update serial number successful.", kStyleInformation},
       "123ABCDI678"},
      {"a longer text is cut to the radio's length",
       {},
       "123ABCD5678XY",
       nullptr,
       {"Update serial number successful.", kStyleInformation},
       "123ABCD5678"},
      {"seventh may not be O",
       {},
       "123ABCO5678",
       nullptr,
       {"The serial number is incorrect.", kStyleError},
       nullptr},
      {"ten-character radio",
       tenCharacters,
       "1235BC5678",
       nullptr,
       {"Update serial number successful.", kStyleInformation},
       "1235BC5678"},
      {"ten-character rule: fifth may not be I",
       tenCharacters,
       "1235IC5678",
       nullptr,
       {"The serial number is incorrect.", kStyleError},
       nullptr},
      {"radio refuses the number",
       {},
       "123ABCD5678",
       [](Bench& b) {
         b.radio.setFaultPlan(FaultPlan().addEvery(RequestKind::SerialNumber, FaultKind::Silence));
       },
       {"Failed to update serial number.", kStyleError},
       nullptr},
      {"radio unknown to the package",
       {},
       "123ABCD5678",
       [](Bench& b) {
         SimRadioConfig other = b.radio.config();
         other.modelNumber[9] = 'X';
         b.radio.setConfig(other);
       },
       {testing::kUnsupportedRadio, kStyleError},
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PackageSpec package;
    package.savedPassword = package.dealerPassword;
    SimRadioConfig radio;
    if (!c.radioSerial.empty()) {
      radio.serialNumber = c.radioSerial;
    }
    Bench bench(package, radio);
    ASSERT_TRUE(bench.controller.dealerMode());
    if (c.arrange != nullptr) {
      c.arrange(bench);
    }
    const std::string before = bench.radioSerial();
    bench.view.typedSerial = c.typed;
    bench.controller.onUpdateSerialNumber();
    EXPECT_EQ(bench.view.messages, Shownlist{c.result});
    const bool written = c.serialAfter != nullptr;
    EXPECT_EQ(bench.radioSerial(), written ? c.serialAfter : before);
    if (written) {
      EXPECT_EQ(bench.view.panel.serialNumber, c.serialAfter);
    }
    EXPECT_EQ(bench.view.serialSelected, written ? 0 : 1);
    EXPECT_FALSE(bench.cable.isOpen());
    EXPECT_EQ(bench.controller.busyOperation(), 0);
    EXPECT_TRUE(bench.view.controls[Control::UpdateSerialNumber]);
  }
}

}  // namespace
}  // namespace orvik
