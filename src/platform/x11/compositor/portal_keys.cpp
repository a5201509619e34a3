// Keys through the desktop portal's remote desktop session, on the user's
// session bus. Everything is asked without waiting, one step after the
// other: the interface's version, CreateSession, SelectDevices (the
// keyboard), Start (where the desktop may ask the user); each step's
// answer comes as the Response signal of its request object, whose path
// the caller knows beforehand (its unique name and a token of its own), so
// the signal is subscribed to before the call. Then each key is a
// NotifyKeyboardKeycode. The session ends with its Close; it also ends
// when the desktop closes it (its Closed signal) or the portal leaves the
// bus.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/x11/compositor/path.h"

namespace compositor {
namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kRemoteDesktop[] = "org.freedesktop.portal.RemoteDesktop";
constexpr uint32_t kKeyboardDevice = 1;
constexpr uint32_t kPersistUntilRevoked = 2;
constexpr size_t kMaxToken = 4096;
constexpr unsigned kLeftCtrl = 29; // evdev
constexpr uint64_t kLastKeyWaitUs = 500000;

// One entry of an a{sv} option list: a string or a 32-bit unsigned.
struct Option {
  const char *key;
  std::string text;
  uint32_t number = 0;
  bool isText = true;
};

Option Text(const char *key, std::string value) {
  return {key, std::move(value), 0, true};
}
Option Number(const char *key, uint32_t value) {
  return {key, "", value, false};
}

int AppendOptions(sd_bus_message *m, const std::vector<Option> &options) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  for (const Option &o : options) {
    if (r >= 0)
      r = sd_bus_message_open_container(m, 'e', "sv");
    if (r >= 0)
      r = sd_bus_message_append(m, "s", o.key);
    if (r >= 0)
      r = o.isText ? sd_bus_message_append(m, "v", "s", o.text.c_str())
                   : sd_bus_message_append(m, "v", "u", o.number);
    if (r >= 0)
      r = sd_bus_message_close_container(m);
  }
  if (r >= 0)
    r = sd_bus_message_close_container(m);
  return r;
}

// What a Response's results or a property list hold that the session
// needs; anything else is skipped.
struct Results {
  std::string sessionHandle;
  std::string restoreToken;
  uint32_t devices = 0;
  uint32_t version = 0;
  uint32_t deviceTypes = 0;
};

int ReadResults(sd_bus_message *m, Results *out) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0)
    return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char *key = nullptr;
    if ((r = sd_bus_message_read(m, "s", &key)) < 0)
      return r;
    char type = 0;
    const char *contents = nullptr;
    if ((r = sd_bus_message_peek_type(m, &type, &contents)) < 0)
      return r;
    const std::string name = key;
    const bool text = contents != nullptr && (std::strcmp(contents, "s") == 0 ||
                                              std::strcmp(contents, "o") == 0);
    const bool number = contents != nullptr && std::strcmp(contents, "u") == 0;
    std::string *textOut = name == "session_handle"  ? &out->sessionHandle
                           : name == "restore_token" ? &out->restoreToken
                                                     : nullptr;
    uint32_t *numberOut = name == "devices"                ? &out->devices
                          : name == "version"              ? &out->version
                          : name == "AvailableDeviceTypes" ? &out->deviceTypes
                                                           : nullptr;
    if (text && textOut != nullptr) {
      const char *value = nullptr;
      if ((r = sd_bus_message_enter_container(m, 'v', contents)) < 0 ||
          (r = sd_bus_message_read_basic(m, contents[0], &value)) < 0 ||
          (r = sd_bus_message_exit_container(m)) < 0)
        return r;
      *textOut = value != nullptr ? value : "";
    } else if (number && numberOut != nullptr) {
      if ((r = sd_bus_message_read(m, "v", "u", numberOut)) < 0)
        return r;
    } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
      return r;
    }
    if ((r = sd_bus_message_exit_container(m)) < 0)
      return r;
  }
  if (r < 0)
    return r;
  return sd_bus_message_exit_container(m);
}

class PortalPath : public Path {
public:
  ~PortalPath() override { Disconnect(); }

  bool Connect(const std::string &stateDir, std::string *error) {
    tokenFile_ = stateDir.empty() ? "" : stateDir + "/remote-desktop-token";
    int r = sd_bus_open_user(&bus_);
    if (r < 0) {
      *error = std::string("no session bus: ") + std::strerror(-r);
      return false;
    }
    const char *unique = nullptr;
    r = sd_bus_get_unique_name(bus_, &unique);
    if (r < 0 || unique == nullptr) {
      *error = "the session bus gave no name";
      return false;
    }
    // ":1.42" names its requests "1_42".
    for (const char *c = unique[0] == ':' ? unique + 1 : unique; *c; ++c)
      sender_ += *c == '.' ? '_' : *c;
    // The portal leaving the bus ends the session.
    sd_bus_match_signal_async(bus_, &ownerSlot_, "org.freedesktop.DBus",
                              "/org/freedesktop/DBus", "org.freedesktop.DBus",
                              "NameOwnerChanged", OnOwnerChanged, nullptr,
                              this);
    r = sd_bus_call_method_async(bus_, &callSlot_, kPortal, kPortalPath,
                                 "org.freedesktop.DBus.Properties", "GetAll",
                                 OnProperties, this, "s", kRemoteDesktop);
    if (r < 0) {
      *error = std::string("the desktop portal cannot be asked: ") +
               std::strerror(-r);
      return false;
    }
    return true;
  }

  int Fd() override { return bus_ != nullptr ? sd_bus_get_fd(bus_) : -1; }
  short Events() override {
    const int events = bus_ != nullptr ? sd_bus_get_events(bus_) : 0;
    return short(events > 0 ? events : POLLIN);
  }

  void Process() override {
    if (bus_ == nullptr)
      return;
    int r;
    while ((r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (r < 0 && state() != kKeyPathClosed)
      Closed("the session bus went away");
  }

  // The portal may handle calls in threads of its own, so two calls in a
  // row can reach the compositor the other way round (a release before
  // its press leaves the key down there): each key waits for the answer
  // to the one before.
  void SendKey(unsigned code, bool down) override {
    keys_.push_back({code, down});
    if (!keyInFlight_)
      SendNextKey();
  }

  sd_bus_message *KeyMessage(unsigned code, bool down) {
    sd_bus_message *m = nullptr;
    int r =
        sd_bus_message_new_method_call(bus_, &m, kPortal, kPortalPath,
                                       kRemoteDesktop, "NotifyKeyboardKeycode");
    if (r >= 0)
      r = sd_bus_message_append(m, "o", session_.c_str());
    if (r >= 0)
      r = AppendOptions(m, {});
    if (r >= 0)
      r = sd_bus_message_append(m, "iu", int32_t(code), down ? 1u : 0u);
    if (r < 0)
      m = sd_bus_message_unref(m);
    return m;
  }

  void SendNextKey() {
    if (keys_.empty() || bus_ == nullptr)
      return;
    sd_bus_message *m = KeyMessage(keys_.front().first, keys_.front().second);
    int r = m != nullptr ? 0 : -ENOMEM;
    if (r >= 0)
      r = sd_bus_call_async(bus_, nullptr, m, OnKeyAnswer, this, 0);
    sd_bus_message_unref(m);
    if (r >= 0)
      r = sd_bus_flush(bus_);
    keyInFlight_ = r >= 0;
    if (r < 0)
      Closed("the session bus went away");
  }

  // At the end the keys not sent yet (the releases) go one by one, each
  // waiting at most a moment for its answer.
  void SendWaitingKeys() {
    if (keyInFlight_ && !keys_.empty())
      keys_.pop_front(); // its answer is not waited for again
    keyInFlight_ = false;
    for (const auto &[code, down] : keys_) {
      sd_bus_message *m = KeyMessage(code, down);
      if (m == nullptr)
        break;
      const int r = sd_bus_call(bus_, m, kLastKeyWaitUs, nullptr, nullptr);
      sd_bus_message_unref(m);
      if (r < 0)
        break;
    }
    keys_.clear();
  }

  void End() override {
    if (state() != kKeyPathClosed && bus_ != nullptr) {
      SendWaitingKeys();
      CloseSession();
    }
    Disconnect();
  }

private:
  // The next request's path, and the Response signal on it subscribed to.
  bool Expect(const char *step, std::string *token) {
    *token = "flinto" + std::to_string(++requests_);
    const std::string path =
        std::string(kPortalPath) + "/request/" + sender_ + "/" + *token;
    step_ = step;
    responseSlot_ = sd_bus_slot_unref(responseSlot_);
    const int r =
        sd_bus_match_signal_async(bus_, &responseSlot_, kPortal, path.c_str(),
                                  "org.freedesktop.portal.Request", "Response",
                                  OnResponse, nullptr, this);
    if (r < 0)
      Closed(std::string("the desktop portal cannot be asked: ") +
             std::strerror(-r));
    return r >= 0;
  }

  // Calls a method of the remote desktop interface whose arguments are
  // `head` (the session's path, and a parent window for Start) and the
  // options.
  void Call(const char *method, bool withSession, bool withParent,
            const std::vector<Option> &options) {
    sd_bus_message *m = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &m, kPortal, kPortalPath,
                                           kRemoteDesktop, method);
    if (r >= 0 && withSession)
      r = sd_bus_message_append(m, "o", session_.c_str());
    if (r >= 0 && withParent)
      r = sd_bus_message_append(m, "s", "");
    if (r >= 0)
      r = AppendOptions(m, options);
    if (r >= 0) {
      callSlot_ = sd_bus_slot_unref(callSlot_);
      r = sd_bus_call_async(bus_, &callSlot_, m, OnCallAnswer, this, 0);
    }
    sd_bus_message_unref(m);
    if (r < 0)
      Closed(std::string("the desktop portal cannot be asked: ") +
             std::strerror(-r));
  }

  void CreateSession() {
    std::string token;
    if (!Expect("CreateSession", &token))
      return;
    Call("CreateSession", false, false,
         {Text("handle_token", token),
          Text("session_handle_token", "flinto" + std::to_string(getpid()))});
  }

  void SelectDevices() {
    std::string token;
    if (!Expect("SelectDevices", &token))
      return;
    std::vector<Option> options = {Text("handle_token", token),
                                   Number("types", kKeyboardDevice)};
    // Later systems remember the grant: asked once, not at every start.
    if (version_ >= 2) {
      options.push_back(Number("persist_mode", kPersistUntilRevoked));
      const std::string saved = ReadToken();
      if (!saved.empty())
        options.push_back(Text("restore_token", saved));
    }
    Call("SelectDevices", true, false, options);
  }

  void Start() {
    std::string token;
    if (!Expect("Start", &token))
      return;
    Call("Start", true, true, {Text("handle_token", token)});
  }

  // Asks the portal to end the session, without waiting for its answer.
  void CloseSession() {
    if (bus_ == nullptr || session_.empty())
      return;
    sd_bus_message *m = nullptr;
    if (sd_bus_message_new_method_call(bus_, &m, kPortal, session_.c_str(),
                                       "org.freedesktop.portal.Session",
                                       "Close") >= 0 &&
        sd_bus_message_set_expect_reply(m, 0) >= 0)
      sd_bus_send(bus_, m, nullptr);
    sd_bus_message_unref(m);
    sd_bus_flush(bus_);
    session_.clear();
  }

  void Answered(uint32_t response, const Results &results) {
    if (response != 0) {
      CloseSession(); // a session made before the refusal goes too
      Closed(response == 1 ? "the remote desktop session was refused"
                           : "the remote desktop session could not start");
      return;
    }
    if (step_ == std::string("CreateSession")) {
      session_ = results.sessionHandle;
      if (session_.empty() || !sd_bus_object_path_is_valid(session_.c_str())) {
        Closed("the desktop portal gave no session");
        return;
      }
      std::string path = session_;
      sd_bus_match_signal_async(bus_, &closedSlot_, kPortal, path.c_str(),
                                "org.freedesktop.portal.Session", "Closed",
                                OnSessionClosed, nullptr, this);
      SelectDevices();
    } else if (step_ == std::string("SelectDevices")) {
      Start();
    } else if (step_ == std::string("Start")) {
      if ((results.devices & kKeyboardDevice) == 0) {
        Closed("the remote desktop session has no keyboard");
        return;
      }
      if (!results.restoreToken.empty())
        WriteToken(results.restoreToken);
      responseSlot_ = sd_bus_slot_unref(responseSlot_);
      Ready();
      // Some compositors show the session's keyboard to applications only
      // at its first event, which is then lost: a tap of Ctrl goes first.
      SendKey(kLeftCtrl, true);
      SendKey(kLeftCtrl, false);
    }
  }

  static int OnProperties(sd_bus_message *m, void *data, sd_bus_error *) {
    PortalPath *self = static_cast<PortalPath *>(data);
    self->callSlot_ = sd_bus_slot_unref(self->callSlot_);
    Results results;
    if (sd_bus_message_is_method_error(m, nullptr) ||
        ReadResults(m, &results) < 0 || results.version == 0) {
      self->Closed("the desktop portal offers no remote desktop");
      return 0;
    }
    if ((results.deviceTypes & kKeyboardDevice) == 0) {
      self->Closed("the desktop portal's remote desktop has no keyboard");
      return 0;
    }
    self->version_ = results.version;
    self->CreateSession();
    return 0;
  }

  static int OnCallAnswer(sd_bus_message *m, void *data, sd_bus_error *) {
    PortalPath *self = static_cast<PortalPath *>(data);
    if (sd_bus_message_is_method_error(m, nullptr)) {
      const sd_bus_error *e = sd_bus_message_get_error(m);
      self->Closed(std::string("the desktop portal refused ") + self->step_ +
                   (e != nullptr && e->message != nullptr
                        ? std::string(": ") + e->message
                        : std::string()));
    }
    return 0;
  }

  static int OnResponse(sd_bus_message *m, void *data, sd_bus_error *) {
    PortalPath *self = static_cast<PortalPath *>(data);
    uint32_t response = 2;
    Results results;
    if (sd_bus_message_read(m, "u", &response) < 0 ||
        ReadResults(m, &results) < 0)
      response = 2;
    self->Answered(response, results);
    return 0;
  }

  static int OnKeyAnswer(sd_bus_message *m, void *data, sd_bus_error *) {
    PortalPath *self = static_cast<PortalPath *>(data);
    if (!self->keys_.empty())
      self->keys_.pop_front();
    self->keyInFlight_ = false;
    if (sd_bus_message_is_method_error(m, nullptr)) {
      self->keys_.clear();
      self->Closed("the remote desktop session ended");
      return 0;
    }
    if (self->state() == kKeyPathReady)
      self->SendNextKey();
    return 0;
  }

  static int OnSessionClosed(sd_bus_message *, void *data, sd_bus_error *) {
    static_cast<PortalPath *>(data)->Closed(
        "the remote desktop session was closed");
    return 0;
  }

  static int OnOwnerChanged(sd_bus_message *m, void *data, sd_bus_error *) {
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &before, &after) >= 0 &&
        name != nullptr && std::strcmp(name, kPortal) == 0 &&
        (after == nullptr || *after == '\0'))
      static_cast<PortalPath *>(data)->Closed("the desktop portal went away");
    return 0;
  }

  std::string ReadToken() const {
    if (tokenFile_.empty())
      return "";
    const int fd = open(tokenFile_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
      return "";
    char buffer[kMaxToken + 1];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    if (n <= 0 || size_t(n) > kMaxToken)
      return ""; // too long to be one: not used
    std::string token(buffer, size_t(n));
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r'))
      token.pop_back();
    for (char c : token)
      if (c < 0x21 || c > 0x7E)
        return ""; // not a token the portal gave
    return token;
  }

  void WriteToken(const std::string &token) const {
    if (tokenFile_.empty() || token.size() > kMaxToken)
      return;
    const std::string dir = tokenFile_.substr(0, tokenFile_.rfind('/'));
    mkdir(dir.c_str(), 0700);
    const std::string temporary = tokenFile_ + ".new";
    const int fd =
        open(temporary.c_str(),
             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
      return;
    const std::string line = token + "\n";
    const bool ok = write(fd, line.data(), line.size()) == ssize_t(line.size());
    close(fd);
    if (!ok || rename(temporary.c_str(), tokenFile_.c_str()) != 0)
      unlink(temporary.c_str());
  }

  void Disconnect() {
    responseSlot_ = sd_bus_slot_unref(responseSlot_);
    callSlot_ = sd_bus_slot_unref(callSlot_);
    closedSlot_ = sd_bus_slot_unref(closedSlot_);
    ownerSlot_ = sd_bus_slot_unref(ownerSlot_);
    if (bus_ != nullptr)
      bus_ = sd_bus_flush_close_unref(bus_);
  }

  sd_bus *bus_ = nullptr;
  sd_bus_slot *responseSlot_ = nullptr;
  sd_bus_slot *callSlot_ = nullptr;
  sd_bus_slot *closedSlot_ = nullptr;
  sd_bus_slot *ownerSlot_ = nullptr;
  std::string sender_;
  std::string session_;
  std::string tokenFile_;
  const char *step_ = "";
  std::deque<std::pair<unsigned, bool>> keys_; // the first is in flight
  bool keyInFlight_ = false;
  unsigned requests_ = 0;
  uint32_t version_ = 1;
};

} // namespace

std::unique_ptr<Path> OpenPortal(const std::string &stateDir,
                                 std::string *error) {
  auto path = std::make_unique<PortalPath>();
  if (!path->Connect(stateDir, error))
    return nullptr;
  return path;
}

} // namespace compositor
