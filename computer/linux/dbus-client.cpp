#include "dbus-client.h"

namespace pelko::computer::linux_desktop {
namespace {

// libdbus's error, freed on every path.
struct ScopedError {
    DBusError error;
    ScopedError() { dbus_error_init(&error); }
    ~ScopedError() { dbus_error_free(&error); }
    std::string text() const {
        return dbus_error_is_set(&error) ? std::string(error.message ? error.message : error.name)
                                         : std::string();
    }
};

std::unique_ptr<Connection> failed(std::string& error, const std::string& text) {
    error = text;
    return nullptr;
}

}  // namespace

std::unique_ptr<Connection> Connection::openBus(const std::string& address, std::string& error) {
    ScopedError failure;
    DBusConnection* connection = dbus_connection_open_private(address.c_str(), &failure.error);
    if (!connection) return failed(error, failure.text());
    // A process must never exit because a connection it uses closed.
    dbus_connection_set_exit_on_disconnect(connection, false);
    std::unique_ptr<Connection> owned(new Connection(connection, true));
    if (!dbus_bus_register(connection, &failure.error)) return failed(error, failure.text());
    owned->dropIncoming();
    return owned;
}

std::unique_ptr<Connection> Connection::openPeer(const std::string& address, std::string& error) {
    ScopedError failure;
    DBusConnection* connection = dbus_connection_open_private(address.c_str(), &failure.error);
    if (!connection) return failed(error, failure.text());
    dbus_connection_set_exit_on_disconnect(connection, false);
    return std::unique_ptr<Connection>(new Connection(connection, false));
}

Connection::~Connection() {
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
}

bool Connection::isConnected() const {
    return dbus_connection_get_is_connected(connection_);
}

void Connection::dropIncoming() {
    // Reads what is waiting without blocking, then drops every message nobody asked for.
    dbus_connection_read_write(connection_, 0);
    while (DBusMessage* message = dbus_connection_pop_message(connection_))
        dbus_message_unref(message);
}

MessagePtr methodCall(const std::string& destination, const std::string& path,
                      const char* interface, const char* method) {
    return MessagePtr(dbus_message_new_method_call(
        destination.empty() ? nullptr : destination.c_str(), path.c_str(), interface, method));
}

CallBatch::~CallBatch() {
    for (auto& pending : pending_) {
        if (pending.call) {
            dbus_pending_call_cancel(pending.call);
            dbus_pending_call_unref(pending.call);
        }
    }
}

size_t CallBatch::add(Connection& connection, MessagePtr call, int timeoutMs) {
    Pending pending;
    pending.connection = &connection;
    if (!call) {
        pending.failure = DBUS_ERROR_NO_MEMORY;
    } else if (!connection.isConnected()) {
        pending.failure = DBUS_ERROR_DISCONNECTED;
    } else if (!dbus_connection_send_with_reply(connection.get(), call.get(), &pending.call,
                                                timeoutMs) ||
               !pending.call) {
        pending.failure = DBUS_ERROR_DISCONNECTED;
    } else {
        ++traffic_.calls;
    }
    pending_.push_back(std::move(pending));
    return pending_.size() - 1;
}

std::vector<CallResult> CallBatch::finish() {
    std::vector<CallResult> results(pending_.size());
    bool waited = false;
    for (auto& pending : pending_) {
        if (pending.call) dbus_connection_flush(pending.connection->get());
    }
    for (size_t i = 0; i < pending_.size(); ++i) {
        Pending& pending = pending_[i];
        CallResult& result = results[i];
        if (!pending.call) {
            result.errorName = pending.failure;
            continue;
        }
        dbus_pending_call_block(pending.call);
        waited = true;
        MessagePtr reply(dbus_pending_call_steal_reply(pending.call));
        dbus_pending_call_unref(pending.call);
        pending.call = nullptr;
        if (!reply) {
            result.errorName = DBUS_ERROR_NO_REPLY;
        } else if (dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_ERROR) {
            result.errorName = dbus_message_get_error_name(reply.get());
            const char* text = nullptr;
            if (dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &text,
                                      DBUS_TYPE_INVALID) &&
                text)
                result.errorText = text;
        } else {
            result.reply = std::move(reply);
        }
    }
    if (waited) ++traffic_.waits;
    for (auto& pending : pending_) {
        if (pending.connection->isBus()) pending.connection->dropIncoming();
    }
    pending_.clear();
    return results;
}

CallResult callOnce(BusTraffic& traffic, Connection& connection, MessagePtr call, int timeoutMs) {
    CallBatch batch(traffic);
    batch.add(connection, std::move(call), timeoutMs);
    return std::move(batch.finish().front());
}

std::optional<std::string> readString(DBusMessageIter& iter) {
    const int type = dbus_message_iter_get_arg_type(&iter);
    if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) return std::nullopt;
    const char* text = nullptr;
    dbus_message_iter_get_basic(&iter, &text);
    return std::string(text ? text : "");
}

std::optional<int64_t> readInteger(DBusMessageIter& iter) {
    switch (dbus_message_iter_get_arg_type(&iter)) {
        case DBUS_TYPE_INT32: {
            dbus_int32_t value;
            dbus_message_iter_get_basic(&iter, &value);
            return value;
        }
        case DBUS_TYPE_UINT32: {
            dbus_uint32_t value;
            dbus_message_iter_get_basic(&iter, &value);
            return value;
        }
        case DBUS_TYPE_INT16: {
            dbus_int16_t value;
            dbus_message_iter_get_basic(&iter, &value);
            return value;
        }
        case DBUS_TYPE_INT64: {
            dbus_int64_t value;
            dbus_message_iter_get_basic(&iter, &value);
            return value;
        }
        default:
            return std::nullopt;
    }
}

std::optional<double> readDouble(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_DOUBLE) {
        double value;
        dbus_message_iter_get_basic(&iter, &value);
        return value;
    }
    if (auto number = readInteger(iter)) return static_cast<double>(*number);
    return std::nullopt;
}

std::optional<bool> readBoolean(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_BOOLEAN) return std::nullopt;
    dbus_bool_t value;
    dbus_message_iter_get_basic(&iter, &value);
    return value != 0;
}

DBusMessageIter unwrapVariant(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) return iter;
    DBusMessageIter inner;
    dbus_message_iter_recurse(&iter, &inner);
    return inner;
}

}  // namespace pelko::computer::linux_desktop
