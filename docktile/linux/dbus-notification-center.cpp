#include "linux/dbus-notification-center.h"

#include <gio/gio.h>

#include <future>
#include <thread>
#include <vector>

namespace pelko::docktile {

namespace {

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

std::string messageOf(GError* error) {
    return error && error->message ? error->message : "";
}

PropertyValue propertyValueOf(GVariant* value) {
    using Kind = PropertyValue::Kind;
    const GVariantType* type = g_variant_get_type(value);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(value);
        PropertyValue result = propertyValueOf(inner);
        g_variant_unref(inner);
        return result;
    }
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
        return PropertyValue::string(g_variant_get_string(value, nullptr));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN))
        return PropertyValue::flag(g_variant_get_boolean(value));
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_DOUBLE))
        return PropertyValue::fraction(g_variant_get_double(value));
    switch (g_variant_classify(value)) {
        case G_VARIANT_CLASS_BYTE:
            return PropertyValue::number(g_variant_get_byte(value));
        case G_VARIANT_CLASS_INT16:
            return PropertyValue::number(g_variant_get_int16(value));
        case G_VARIANT_CLASS_UINT16:
            return PropertyValue::number(g_variant_get_uint16(value));
        case G_VARIANT_CLASS_INT32:
            return PropertyValue::number(g_variant_get_int32(value));
        case G_VARIANT_CLASS_UINT32:
            return PropertyValue::number(g_variant_get_uint32(value));
        case G_VARIANT_CLASS_INT64:
            return PropertyValue::number(g_variant_get_int64(value));
        case G_VARIANT_CLASS_UINT64:
            return PropertyValue::number(static_cast<int64_t>(g_variant_get_uint64(value)));
        case G_VARIANT_CLASS_HANDLE:
            return PropertyValue::number(g_variant_get_handle(value));
        case G_VARIANT_CLASS_OBJECT_PATH:
        case G_VARIANT_CLASS_SIGNATURE:
            return PropertyValue::string(g_variant_get_string(value, nullptr));
        default:
            break;
    }
    if (g_variant_type_equal(type, G_VARIANT_TYPE_BYTESTRING)) return PropertyValue::of(Kind::data);
    if (g_variant_type_is_array(type)) {
        const GVariantType* element = g_variant_type_element(type);
        return PropertyValue::of(g_variant_type_is_dict_entry(element) ? Kind::dictionary
                                                                       : Kind::array);
    }
    // A structure of one 64-bit integer stands for a date (D-Bus has no date type); other
    // structures and maybes are not property-list values and read as opaque data.
    if (g_variant_type_equal(type, G_VARIANT_TYPE("(x)"))) return PropertyValue::of(Kind::date);
    return PropertyValue::of(Kind::data);
}

/// The value for the wire; nothing when a string is not valid UTF-8.
GVariant* variantOf(const PropertyValue& value) {
    using Kind = PropertyValue::Kind;
    switch (value.kind) {
        case Kind::string:
            if (!g_utf8_validate(value.text.data(), static_cast<gssize>(value.text.size()),
                                 nullptr))
                return nullptr;
            return g_variant_new_string(value.text.c_str());
        case Kind::integer:
            return g_variant_new_int64(value.integer);
        case Kind::real:
            return g_variant_new_double(value.real);
        case Kind::boolean:
            return g_variant_new_boolean(value.boolean);
        case Kind::date:
            return g_variant_new("(x)", gint64{0});
        case Kind::data:
            return g_variant_new_bytestring("");
        case Kind::array:
            return g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0);
        case Kind::dictionary:
            return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
    }
    return nullptr;
}

bool validUTF8(const std::string& text) {
    return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

/// The notification a signal carries; nothing when its arguments are not (ssa{sv}).
std::optional<Notification> notificationOf(GVariant* parameters) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssa{sv})"))) return std::nullopt;
    const gchar* name = nullptr;
    const gchar* object = nullptr;
    GVariantIter* entries = nullptr;
    g_variant_get(parameters, "(&s&sa{sv})", &name, &object, &entries);
    Notification notification{
        name, *object ? std::optional<std::string>(object) : std::nullopt, {}};
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_loop(entries, "{&sv}", &key, &value))
        notification.userInfo[key] = propertyValueOf(value);
    g_variant_iter_free(entries);
    return notification;
}

}  // namespace

/// The GLib side: a thread running a main context of its own, on which the connection is made,
/// its signals arrive, and it is closed.
class DBusNotificationCenter::Bus {
  public:
    Bus(MainQueue& mainQueue, std::weak_ptr<Observers> observers)
        : mainQueue_(mainQueue), observers_(std::move(observers)) {
        context_ = g_main_context_new();
        loop_ = g_main_loop_new(context_, FALSE);
        thread_ = std::thread([this] {
            g_main_context_push_thread_default(context_);
            g_main_loop_run(loop_);
            g_main_context_pop_thread_default(context_);
        });
    }

    ~Bus() {
        run([this] {
            if (connection_) {
                g_dbus_connection_signal_unsubscribe(connection_, subscription_);
                g_dbus_connection_close_sync(connection_, nullptr, nullptr);
                g_object_unref(connection_);
                connection_ = nullptr;
            }
            // GDBus finishes with a subscription and a connection in idle callbacks of default
            // priority on this context; a low-priority idle runs after them all.
            GSource* idle = g_idle_source_new();
            g_source_set_priority(idle, G_PRIORITY_LOW);
            g_source_set_callback(
                idle,
                [](gpointer loop) -> gboolean {
                    g_main_loop_quit(static_cast<GMainLoop*>(loop));
                    return G_SOURCE_REMOVE;
                },
                loop_, nullptr);
            g_source_attach(idle, context_);
            g_source_unref(idle);
        });
        thread_.join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }

    /// Connects and subscribes to every notification signal. Empty on success, else why not.
    std::string connect(const std::string& address) {
        std::string failure;
        run([&] {
            GError* rawError = nullptr;
            std::string busAddress = address;
            if (busAddress.empty()) {
                gchar* found =
                    g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &rawError);
                ErrorPtr error(rawError);
                if (!found) {
                    failure = messageOf(error.get());
                    return;
                }
                busAddress = found;
                g_free(found);
            }
            rawError = nullptr;
            connection_ = g_dbus_connection_new_for_address_sync(
                busAddress.c_str(),
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &rawError);
            ErrorPtr error(rawError);
            if (!connection_) {
                failure = messageOf(error.get());
                return;
            }
            // One subscription for every name: names are compared on the main thread, exactly,
            // instead of in a match rule that would have to quote them.
            subscription_ = g_dbus_connection_signal_subscribe(
                connection_, nullptr, notificationInterface, notificationMember,
                notificationObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &Bus::onSignal, this,
                nullptr);
            // The bus applies one connection's messages in order: once it has answered this
            // call, the match rule sent before it is in force, so every notification posted
            // from now on reaches us.
            rawError = nullptr;
            GVariant* reply = g_dbus_connection_call_sync(
                connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                nullptr, &rawError);
            ErrorPtr pingError(rawError);
            if (reply) g_variant_unref(reply);
        });
        return failure;
    }

    GDBusConnection* connection() const { return connection_; }

  private:
    /// Runs `task` on the bus thread and waits for it.
    void run(std::function<void()> task) {
        struct Call {
            std::function<void()> task;
            std::promise<void> done;
        };
        auto* call = new Call{std::move(task), {}};
        std::future<void> done = call->done.get_future();
        g_main_context_invoke_full(
            context_, G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                auto* call = static_cast<Call*>(data);
                call->task();
                call->done.set_value();
                return G_SOURCE_REMOVE;
            },
            call, [](gpointer data) { delete static_cast<Call*>(data); });
        done.wait();
    }

    static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
        auto* bus = static_cast<Bus*>(data);
        auto notification = notificationOf(parameters);
        if (!notification) return;
        bus->mainQueue_.async([observers = bus->observers_, notification = *notification] {
            if (auto live = observers.lock()) live->deliver(notification);
        });
    }

    MainQueue& mainQueue_;
    std::weak_ptr<Observers> observers_;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::thread thread_;
    GDBusConnection* connection_ = nullptr;
    guint subscription_ = 0;
};

void DBusNotificationCenter::Observers::deliver(const Notification& notification) {
    std::vector<uint64_t> matching;
    for (const auto& [id, entry] : entries)
        if (entry.name == notification.name) matching.push_back(id);
    for (uint64_t id : matching) {
        // A handler may remove registrations, its own or the next one's.
        auto entry = entries.find(id);
        if (entry == entries.end()) continue;
        auto handler = entry->second.handler;
        handler(notification);
    }
}

DBusNotificationCenter::DBusNotificationCenter(MainQueue& mainQueue, const std::string& address)
    : bus_(std::make_unique<Bus>(mainQueue, observers_)) {
    connectError_ = bus_->connect(address);
}

DBusNotificationCenter::~DBusNotificationCenter() = default;

bool DBusNotificationCenter::connected() const {
    return bus_->connection() != nullptr;
}

void DBusNotificationCenter::addObserver(ObserverId observer, const std::string& name,
                                         std::function<void(const Notification&)> handler,
                                         SuspensionBehavior) {
    // The bus delivers every signal as soon as it can; there is no suspension to behave in.
    if (!connected()) return;
    observers_->entries[nextId_++] = Entry{observer, name, std::move(handler)};
}

void DBusNotificationCenter::removeObserver(ObserverId observer) {
    std::erase_if(observers_->entries,
                  [&](const auto& entry) { return entry.second.observer == observer; });
}

bool DBusNotificationCenter::post(const Notification& notification, bool) {
    GDBusConnection* connection = bus_->connection();
    if (!connection || !validUTF8(notification.name) ||
        (notification.object && !validUTF8(*notification.object)))
        return false;
    GVariantBuilder userInfo;
    g_variant_builder_init(&userInfo, G_VARIANT_TYPE("a{sv}"));
    for (const auto& [key, value] : notification.userInfo) {
        GVariant* wire = validUTF8(key) ? variantOf(value) : nullptr;
        if (!wire) {
            g_variant_builder_clear(&userInfo);
            return false;
        }
        g_variant_builder_add(&userInfo, "{sv}", key.c_str(), wire);
    }
    GVariant* parameters =
        g_variant_new("(ssa{sv})", notification.name.c_str(),
                      notification.object ? notification.object->c_str() : "", &userInfo);
    GError* rawError = nullptr;
    // Broadcast: no destination.
    bool sent = g_dbus_connection_emit_signal(connection, nullptr, notificationObjectPath,
                                              notificationInterface, notificationMember, parameters,
                                              &rawError);
    ErrorPtr error(rawError);
    if (!sent) return false;
    rawError = nullptr;
    bool flushed = g_dbus_connection_flush_sync(connection, nullptr, &rawError);
    ErrorPtr flushError(rawError);
    return flushed;
}

}  // namespace pelko::docktile
