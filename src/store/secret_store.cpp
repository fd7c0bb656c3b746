#include "store/secret_store.h"

#include <gio/gio.h>
#include <libsecret/secret.h>

namespace pelorix {

namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = {"org.tolvane.Pelorix.Secret",
                                      SECRET_SCHEMA_NONE,
                                      {{"home", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"name", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                      0,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr};
  return &schema;
}

// Takes over a GError and gives its message.
std::string Message(GError* error) {
  std::string text =
      error != nullptr && error->message != nullptr ? error->message : "unknown error";
  if (error != nullptr) {
    g_error_free(error);
  }
  return text;
}

// Whether a Secret Service runs on the bus. One the bus could only start
// is left alone: started on a bus with no desktop (a private session, cron)
// it has no unlocked keyring and would wait for a prompt nobody sees.
bool ServiceOnBus(GDBusConnection* bus, std::string* why) {
  constexpr int kCallMs = 5000;
  GError* error = nullptr;
  GVariant* owner = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(b)"),
      G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &error);
  if (owner == nullptr) {
    *why = Message(error);
    return false;
  }
  gboolean has = FALSE;
  g_variant_get(owner, "(b)", &has);
  g_variant_unref(owner);
  if (!has)
    *why = "no Secret Service runs on the session bus";
  return has;
}

class TSecretService : public TSecretBackend {
 public:
  explicit TSecretService(std::string home) : home_(std::move(home)) {}

  bool Store(std::string_view name, std::string_view secret, std::string* error) override {
    const std::string n(name), s(secret), label = "Pelorix " + n;
    GError* failure = nullptr;
    if (!secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), s.c_str(),
                                    nullptr, &failure, "home", home_.c_str(), "name", n.c_str(),
                                    nullptr)) {
      const std::string why = Message(failure);
      if (error != nullptr) {
        *error = why;
      }
      return false;
    }
    return true;
  }

  TSecretLookup Lookup(std::string_view name) override {
    const std::string n(name);
    TSecretLookup result;
    GError* failure = nullptr;
    gchar* secret = secret_password_lookup_sync(Schema(), nullptr, &failure, "home", home_.c_str(),
                                                "name", n.c_str(), nullptr);
    if (failure != nullptr) {
      result.Error = Message(failure);
      return result;
    }
    result.Ok = true;
    if (secret != nullptr) {
      result.Secret = secret;
      secret_password_free(secret);
    }
    return result;
  }

  bool Clear(std::string_view name, std::string* error) override {
    const std::string n(name);
    GError* failure = nullptr;
    secret_password_clear_sync(Schema(), nullptr, &failure, "home", home_.c_str(), "name",
                               n.c_str(), nullptr);
    if (failure != nullptr) {
      const std::string why = Message(failure);
      if (error != nullptr) {
        *error = why;
      }
      return false;
    }
    return true;
  }

 private:
  std::string home_;
};

}  // namespace

std::string AccountSecretName(std::string_view accountKey) {
  return "pop3:" + std::string(accountKey);
}

std::unique_ptr<TSecretBackend> OpenSecretService(const std::filesystem::path& home,
                                                  std::string* why) {
  std::string reason;
  GError* error = nullptr;
  // Without a bus address GLib would try to start one through X11; a
  // session without either has no keyring to find.
  if (g_getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr && g_getenv("DISPLAY") == nullptr &&
      g_getenv("XDG_RUNTIME_DIR") == nullptr) {
    reason = "no session bus";
  } else if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
             bus == nullptr) {
    reason = Message(error);
  } else {
    // A bus that goes away must cost the keyring, not end the program.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    const bool found = ServiceOnBus(bus, &reason);
    g_object_unref(bus);
    if (found) {
      std::error_code ec;
      const std::filesystem::path absolute = std::filesystem::weakly_canonical(home, ec);
      return std::make_unique<TSecretService>((ec ? home : absolute).string());
    }
  }
  if (why != nullptr) {
    *why = reason;
  }
  return nullptr;
}

}  // namespace pelorix
