// Random use of the keyboard, checked after every step against the key
// state table and the invariants the keys must keep. A failure names its
// seed; FLINTO_PROPERTY_SEED=N replays that seed alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "app/app.h"
#include "keyboard/keyboard.h"
#include "platform/portable/internal.h"
#include "platform/portable/text.h"
#include "platform/sim/sim_driver.h"
#include "render/render.h"

namespace {

// The state table of one key: flags plus an "owns the pointer" mark.
constexpr int D = Down, La = Latched, Lo = Locked, LH = LeftHeld,
              RH = RightHeld, O = 0x20;
enum Input { Ldown, Lup, Rdown, Rup, RL, RA, Left, kInputs };
constexpr int kSame = -1; // "=": no change
constexpr int kNone = -2; // "—": cannot happen

struct Row {
  int state;
  int next[kInputs];
};
// Each cell: the new state (with O when the key then owns the pointer).
const Row kTable[] = {
    {0, {D | LH | O, kSame, D | RH | O, kSame, kSame, kSame, kNone}},
    {D | LH | O, {0, 0, D | Lo | LH, D | La | LH, kNone, kNone, 0}},
    {D | RH | O, {D | Lo | RH, RH, 0, D | La, kNone, kNone, 0}},
    {D | La, {D | La | LH | O, kSame, D | La | RH | O, kSame, 0, 0, kNone}},
    {D | La | LH | O, {0, 0, D | Lo | LH, LH, kNone, kNone, 0}},
    {D | La | RH | O, {D | Lo | RH, RH, 0, 0, kNone, kNone, 0}},
    {D | Lo | LH,
     {D | LH | O, kSame, D | La | LH | RH | O, kSame, kSame, LH, kNone}},
    {D | Lo | RH,
     {D | LH | RH | O, kSame, D | La | RH | O, kSame, kSame, RH, kNone}},
    {D | LH | RH | O, {0, RH, 0, D | La | LH, kNone, kNone, 0}},
    {D | La | LH | RH | O, {0, RH, 0, LH, kNone, kNone, 0}},
    {LH, {D | LH | O, kSame, D | LH | RH | O, kSame, kSame, kSame, kNone}},
    {RH, {D | LH | RH | O, kSame, D | RH | O, kSame, kSame, kSame, kNone}},
    {D | La | LH,
     {D | La | LH | O, kSame, D | La | LH | RH | O, kSame, LH, LH, kNone}},
};

const Row *FindRow(int state) {
  for (const Row &r : kTable)
    if (r.state == state)
      return &r;
  return nullptr;
}

const uint32_t kKeys[] = {0x10, 0x11, 0x12, 0x41, 0x42};

std::string Describe(int s) {
  std::string out;
  auto add = [&](int bit, const char *name) {
    if (s & bit)
      out += std::string(out.empty() ? "" : " ") + name;
  };
  add(D, "D");
  add(La, "La");
  add(Lo, "Lo");
  add(LH, "LH");
  add(RH, "RH");
  add(O, "(owner)");
  return out.empty() ? "0" : out;
}

// The table's rows that the random walks reached, across all seeds.
std::set<int> visitedStates;

class Model {
public:
  std::map<uint32_t, int> state; // flags | O
  void Sync() {
    for (uint32_t id : kKeys) {
      const KeyEntry *e = FindKey(id);
      state[id] = e->flags | (GetCapturedKey() == id ? O : 0);
    }
  }
  // Applies one input to one key; an "up" output broadcasts a release of
  // the latched keys to all others. Returns an error text, or "".
  std::string Apply(uint32_t id, Input input) {
    const int before = state[id];
    const Row *row = FindRow(before);
    if (row == nullptr)
      return "state not in the table: " + Describe(before);
    visitedStates.insert(before);
    const int next = row->next[input];
    if (next == kNone)
      return "input " + std::to_string(input) + " cannot reach " +
             Describe(before);
    if (next == kSame)
      return "";
    state[id] = next;
    if (next & O)
      for (auto &[other, s] : state)
        if (other != id)
          s &= ~O;
    // Every way down to up ends in a release of the latched keys: the key's
    // own key-up, or the broadcast by which a lost release takes it up.
    if ((before & D) && !(next & D))
      Broadcast(RL);
    return "";
  }
  // The keyboard going out of reach (hidden, a new key set, its window
  // lost): the owner lets go of the pointer and every key goes up.
  void ReleaseEverything() {
    for (auto &[id, s] : state)
      if (s & O)
        s = 0;
    Broadcast(RA);
  }
  void Broadcast(Input input) {
    for (uint32_t id : kKeys) {
      const int s = state[id];
      const Row *row = FindRow(s);
      if (row == nullptr || row->next[input] == kNone ||
          row->next[input] == kSame)
        continue;
      state[id] = row->next[input];
      if (input == RA) // the key-up of a release takes the latched keys up
        Broadcast(RL);
    }
  }
};

class Property {
public:
  Property(unsigned seed, int steps)
      : rng_(seed), seed_(seed), steps_(steps), driver_(log_) {}

  std::string Run() {
    ResetProcessState();
    portable::ResetAll();
    portable::SetFontsEnabled(true);
    driver_.Install();
    driver_.App("editor");
    driver_.onIdle = [this] { return Step(); };
    FlintoMain(reinterpret_cast<HINSTANCE>(0x400000));
    ResetProcessState();
    portable::SetDriver(nullptr);
    portable::ResetAll();
    return failure_;
  }

private:
  bool Fail(const std::string &what) {
    if (failure_.empty()) {
      std::ostringstream s;
      s << "seed " << seed_ << ", step " << step_ << " (" << action_
        << "): " << what << "\nlast steps:";
      for (const std::string &a : history_)
        s << " / " << a;
      failure_ = s.str();
    }
    return false;
  }

  POINT KeyCentre(uint32_t id) {
    RECT w;
    GetWindowRect(g_keyboardWindow, &w);
    const RECT r = KeyPixelRect(*FindKey(id));
    return {w.left + (r.left + r.right) / 2, w.top + (r.top + r.bottom) / 2};
  }

  // What the routing gives a pointer message at the pointer, for the model:
  // a key, or 0 for none of the watched keys.
  uint32_t Receiver() {
    if (GetCapture() != nullptr || !IsWindowVisible(g_keyboardWindow))
      return 0;
    // Away from the keyboard the message does not reach it at all.
    if (portable::OwnWindowAt(driver_.pointer()) != g_keyboardWindow)
      return 0;
    if (IsAnyKeyCaptured()) {
      const uint32_t id = GetCapturedKey();
      return model_.state.count(id) ? id : 0;
    }
    RECT w;
    GetWindowRect(g_keyboardWindow, &w);
    const KeyEntry *e =
        HitTestKey(driver_.pointer().x - w.left, driver_.pointer().y - w.top);
    return (e != nullptr && model_.state.count(e->id)) ? e->id : 0;
  }

  bool CheckInvariants() {
    const std::vector<int> down = driver_.KeysDown();
    // Every key-up the program sends is of a key it holds down.
    if (driver_.StrayReleases() != 0)
      return Fail("a key-up of a key that was up");
    // Nothing is down in the system while the keyboard is hidden.
    if (!IsWindowVisible(g_keyboardWindow) && !down.empty())
      return Fail("hidden, and the system has key " +
                  std::to_string(down.front()) + " down");
    const portable::Bitmap *buffer = portable::BitmapOf(BackBuffer);
    for (uint32_t id : kKeys) {
      const KeyEntry *e = FindKey(id);
      if ((e->flags & Latched) && (e->flags & Locked))
        return Fail("latched and locked: " + Describe(e->flags));
      // A latch or a lock is a way of being down: never left on a key that
      // is up, where it would change what the next click does.
      if ((e->flags & (Latched | Locked)) && !(e->flags & Down))
        return Fail("key " + std::to_string(id) + " is " + Describe(e->flags));
      const bool systemDown =
          std::find(down.begin(), down.end(), int(id)) != down.end();
      if (systemDown != ((e->flags & Down) != 0))
        return Fail("key " + std::to_string(id) + " is " + Describe(e->flags) +
                    " but the system has it " + (systemDown ? "down" : "up"));
      const RECT r = KeyPixelRect(*e);
      const bool drawnDown = buffer->Get(r.left, r.top) == 0;
      if (drawnDown != ((e->flags & Down) != 0))
        return Fail("key " + std::to_string(id) + " drawn " +
                    (drawnDown ? "down" : "up") + " while " +
                    Describe(e->flags));
      const int modelled = model_.state[id];
      const int actual = e->flags | (GetCapturedKey() == id ? O : 0);
      if (modelled != actual)
        return Fail("key " + std::to_string(id) + " is " + Describe(actual) +
                    ", the table says " + Describe(modelled));
    }
    if (IsAnyKeyCaptured()) {
      const KeyEntry *owner = FindKey(GetCapturedKey());
      if (owner != nullptr && owner->kind == Key &&
          (!(owner->flags & Down) || (owner->flags & Locked)))
        return Fail("the owner is " + Describe(owner->flags));
    }
    return true;
  }

  // Runs when the program has handled everything of the last step.
  bool Step() {
    if (!failure_.empty() || step_ >= steps_)
      return false;
    if (step_ == 0) {
      driver_.TrayNotify(WM_LBUTTONDOWN); // show the keyboard
      model_.Sync();
      ++step_;
      action_ = "show";
      return true;
    }
    if (tickPending_) {
      // A re-creation in the tick releases the latched keys; the keyboard's
      // own tick comes after the owner's and releases a key held while the
      // pointer is away.
      tickPending_ = false;
      if (log_.str().find("recreate") != std::string::npos)
        model_.Broadcast(RL);
      if (!overAtTick_ && model_.state.count(capturedAtTick_)) {
        const std::string error = model_.Apply(capturedAtTick_, Left);
        if (!error.empty())
          return Fail(error);
      }
    }
    log_.str("");
    if (!CheckInvariants())
      return false;
    if (!action_.empty()) {
      history_.push_back(action_);
      if (history_.size() > 12)
        history_.erase(history_.begin());
    }
    ++step_;
    const int roll = int(rng_() % 106);
    std::string error;
    if (roll >= 100) {
      OutOfReachStep(roll);
    } else if (roll < 30) {
      const int which = int(rng_() % 8);
      if (which < 5) {
        driver_.MovePointer(KeyCentre(kKeys[which]));
        action_ = "pointer key " + std::to_string(kKeys[which]);
      } else if (which == 5) {
        driver_.MovePointer(KeyCentre(KEY_COPY));
        action_ = "pointer copy";
      } else if (which == 6) {
        RECT w;
        GetWindowRect(g_keyboardWindow, &w);
        driver_.MovePointer({w.left + 1, w.top + 1});
        action_ = "pointer bg";
      } else {
        RECT w;
        GetWindowRect(g_keyboardWindow, &w);
        driver_.MovePointer({w.left > 10 ? 0 : 1279, 0});
        action_ = "pointer outside";
      }
    } else if (roll < 80) {
      const bool left = rng_() % 2 == 0;
      const bool press = rng_() % 2 == 0;
      action_ = std::string(press ? "press " : "release ") +
                (left ? "left" : "right");
      const uint32_t target = Receiver();
      const bool copyRelease = !press && left && GetCapture() == nullptr &&
                               GetCapturedKey() == KEY_COPY;
      const bool insideCopy = copyRelease && [&] {
        RECT w;
        GetWindowRect(g_keyboardWindow, &w);
        const KeyEntry *e = HitTestKey(driver_.pointer().x - w.left,
                                       driver_.pointer().y - w.top);
        return e != nullptr && e->id == KEY_COPY;
      }();
      if (target != 0)
        error = model_.Apply(target, press ? (left ? Ldown : Rdown)
                                           : (left ? Lup : Rup));
      else if (insideCopy)
        model_.Broadcast(RA);
      driver_.Button(left, press);
    } else if (roll < 95) {
      if (roll < 92) {
        action_ = "tick";
      } else {
        action_ = "switch application and tick";
        driver_.App(step_ % 2 ? "browser" : "editor");
      }
      overAtTick_ =
          portable::OwnWindowAt(driver_.pointer()) == g_keyboardWindow;
      capturedAtTick_ = GetCapturedKey();
      tickPending_ = true;
      driver_.AdvanceClock(100);
    } else if (model_.state.count(GetCapturedKey())) {
      // The program never broadcasts a release while a key owns the
      // pointer (the table has no such cell): only a pointer move here.
      action_ = "pointer key 65";
      driver_.MovePointer(KeyCentre(0x41));
    } else if (roll < 98) {
      action_ = "release latched";
      model_.Broadcast(RL);
      BroadcastToKeys(g_keyboardWindow, MSG_RELEASE_LATCHED, 0, 0);
    } else {
      action_ = "release all";
      model_.Broadcast(RA);
      BroadcastToKeys(g_keyboardWindow, MSG_RELEASE_ALL, 0, 0);
    }
    if (!error.empty())
      return Fail(error);
    return true;
  }

  // Hiding and showing, new key sets and the target application closing,
  // with keys held, latched and locked.
  void OutOfReachStep(int roll) {
    if (roll < 102) {
      action_ = "tray left";
      if (IsWindowVisible(g_keyboardWindow))
        model_.ReleaseEverything();
      driver_.TrayNotify(WM_LBUTTONDOWN);
    } else if (roll < 104) {
      // Round the three faces back to the full one, or the Windows keys
      // switched twice: a new key set each time.
      const bool faces = roll == 102;
      action_ = faces ? "faces round" : "winkey twice";
      model_.ReleaseEverything();
      for (auto &[id, st] : model_.state)
        st = 0; // every key is made anew
      for (int i = 0; i < (faces ? 3 : 2); ++i)
        SendMessageA(g_keyboardWindow, WM_COMMAND,
                     faces ? ID_NEXT_FACE : ID_WINKEY, 0);
    } else {
      HWND front = GetForegroundWindow();
      const std::string name = driver_.NameOf(front);
      if (name != "editor" && name != "browser") {
        action_ = "close nothing";
        return;
      }
      action_ = "close " + name;
      const bool lost = GetWindow(g_keyboardWindow, GW_OWNER) == front;
      const bool switchDone = g_recreatePending && g_targetWindow != nullptr &&
                              g_targetWindow != front;
      if (lost && GetCapturedKey() != kNoCapturedKey)
        model_.ReleaseEverything();
      if (lost && switchDone)
        model_.Broadcast(RL);
      driver_.CloseApp(name);
    }
  }

  std::mt19937 rng_;
  unsigned seed_;
  int steps_;
  int step_ = 0;
  std::string action_;
  std::vector<std::string> history_;
  std::string failure_;
  bool tickPending_ = false;
  bool overAtTick_ = false;
  uint32_t capturedAtTick_ = 0;
  std::ostringstream log_;
  sim::SimDriver driver_;
  Model model_;
};

TEST(KeyProperty, RandomUseKeepsTheTableAndTheInvariants) {
  const char *replay = std::getenv("FLINTO_PROPERTY_SEED");
  if (replay != nullptr) {
    const std::string failure =
        Property(unsigned(std::strtoul(replay, nullptr, 10)), 2000).Run();
    EXPECT_EQ(failure, "");
    return;
  }
  // 40 seeds of 300 steps: 12,000 steps a run.
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const std::string failure = Property(seed, 300).Run();
    ASSERT_EQ(failure, "") << "replay with FLINTO_PROPERTY_SEED=" << seed;
  }
  // The walks went through every row of the table.
  for (const Row &row : kTable)
    EXPECT_TRUE(visitedStates.count(row.state)) << Describe(row.state);
}

} // namespace
