// The rules every way of typing through the compositor shares: nothing is
// typed before the grant nor kept for later, and every press sent has its
// release, at the latest when the path closes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/x11/compositor/path.h"

namespace {

class RecordingPath : public compositor::Path {
public:
  int Fd() override { return -1; }
  short Events() override { return 0; }
  void Process() override {}
  void SendKey(unsigned code, bool down) override {
    sent.push_back((down ? "+" : "-") + std::to_string(code));
  }
  void End() override { sent.push_back("end"); }
  void Grant() { Ready(); }
  void Lose(const std::string &why) { Closed(why); }
  std::vector<std::string> sent;
};

using Sent = std::vector<std::string>;

TEST(CompositorKeys, NothingIsTypedBeforeTheGrantNorKeptForLater) {
  RecordingPath path;
  EXPECT_EQ(path.state(), kKeyPathPending);
  path.Key(30, true); // a pressed before the grant...
  EXPECT_TRUE(path.sent.empty());
  path.Grant();
  EXPECT_EQ(path.state(), kKeyPathReady);
  path.Key(30, false); // ...its release after it sends nothing
  path.Key(31, true);
  path.Key(31, false);
  EXPECT_EQ(path.sent, (Sent{"+31", "-31"}));
}

TEST(CompositorKeys, ClosingLetsGoOfEveryKeyStillDownThenEnds) {
  RecordingPath path;
  path.Grant();
  path.Key(42, true); // a latched Shift
  path.Key(30, true);
  path.Key(30, false);
  path.Close();
  EXPECT_EQ(path.sent, (Sent{"+42", "+30", "-30", "-42", "end"}));
  EXPECT_EQ(path.state(), kKeyPathClosed);
  EXPECT_EQ(path.why(), "closed by Flinto");
  path.Key(30, true); // closed: nothing more
  EXPECT_EQ(path.sent.size(), 5u);
}

TEST(CompositorKeys, ASessionClosedByTheDesktopTypesNothingMore) {
  RecordingPath path;
  path.Grant();
  path.Key(42, true);
  path.Lose("the remote desktop session was closed");
  EXPECT_EQ(path.state(), kKeyPathClosed);
  path.Key(42, false);
  path.Key(30, true);
  path.Grant(); // a late answer does not open it again
  EXPECT_EQ(path.state(), kKeyPathClosed);
  path.Close(); // its keys went with the session: only the end
  EXPECT_EQ(path.sent, (Sent{"+42", "end"}));
  EXPECT_EQ(path.why(), "the remote desktop session was closed");
}

} // namespace
