// Bluetooth serial-port-profile opener: asks the printer's SDP server for the
// RFCOMM channel of its Serial Port service, then connects an RFCOMM socket to
// that channel. Everything BlueZ hands out is released on every path.
#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "OpenClose/connection.h"
#include "VrenLabelAPI.h"

namespace {

constexpr const char *kOpenTag = "openDeviceBluetooth";
constexpr const char *kConnectTag = "spp_connect";

constexpr int kDiscoveryAttempts = 5;
constexpr unsigned kDiscoveryPause = 300000;
constexpr int kConnectAttempts = 5;
// Three microseconds: only a yield between connection attempts.
constexpr unsigned kConnectPause = 3;
constexpr unsigned kBusyPause = 10000000;
// A device that stays busy must not hold the caller forever: after this many
// ten-second waits within one connection attempt the attempt has failed.
constexpr int kBusyRetries = 5;

void freeList(sdp_list_t *list) noexcept {
    sdp_list_free(list, nullptr);
}
void freeRecord(void *record) noexcept {
    sdp_record_free(static_cast<sdp_record_t *>(record));
}
void freeInnerList(void *list) noexcept {
    sdp_list_free(static_cast<sdp_list_t *>(list), nullptr);
}

// A list whose elements belong to someone else (the search and attribute lists).
struct ListFree {
    void operator()(sdp_list_t *list) const noexcept { freeList(list); }
};
// The records of a search response.
struct RecordsFree {
    void operator()(sdp_list_t *records) const noexcept { sdp_list_free(records, freeRecord); }
};
// A protocol descriptor list: a list of lists whose elements belong to the record.
struct ProtocolsFree {
    void operator()(sdp_list_t *protocols) const noexcept { sdp_list_free(protocols, freeInnerList); }
};
using List = std::unique_ptr<sdp_list_t, ListFree>;
using Records = std::unique_ptr<sdp_list_t, RecordsFree>;
using Protocols = std::unique_ptr<sdp_list_t, ProtocolsFree>;

// The low byte of the record's RFCOMM port; 0 when it has no protocol list or
// no RFCOMM channel.
uint8_t rfcommChannel(const sdp_record_t *record) noexcept {
    sdp_list_t *found = nullptr;
    if (sdp_get_access_protos(record, &found) != 0)
        return 0;
    const Protocols protocols(found);
    return static_cast<uint8_t>(sdp_get_proto_port(protocols.get(), RFCOMM_UUID) & 0xFF);
}

// Finds the channel over a session of its own, closed whatever the outcome.
bool discoverChannel(const bdaddr_t &local, const bdaddr_t &device, uint8_t &channel, bool &reached) noexcept {
    sdp_session_t *session = sdp_connect(&local, &device, SDP_RETRY_IF_BUSY);
    reached = session != nullptr;
    if (!reached)
        return false;
    const int searched = sdp_search_spp(session, &channel);
    sdp_close(session);
    return searched == 0;
}

void closeSocket(int *sock) noexcept {
    close(*sock);
    *sock = -1;
}

}  // namespace

extern "C" VREN_API int sdp_search_spp(sdp_session_t *session, uint8_t *channel) {
    if (session == nullptr || channel == nullptr)
        return -1;
    uuid_t serialPort;
    sdp_uuid16_create(&serialPort, SERIAL_PORT_SVCLASS_ID);
    uint16_t protocolList = SDP_ATTR_PROTO_DESC_LIST;
    const List search(sdp_list_append(nullptr, &serialPort));
    const List attributes(sdp_list_append(nullptr, &protocolList));
    if (!search || !attributes)
        return -1;

    sdp_list_t *response = nullptr;
    const int result = sdp_service_search_attr_req(session, search.get(), SDP_ATTR_REQ_INDIVIDUAL, attributes.get(),
                                                    &response);
    const Records records(response);
    if (result != 0)
        return -1;
    for (const sdp_list_t *entry = records.get(); entry != nullptr; entry = entry->next) {
        const uint8_t found = rfcommChannel(static_cast<const sdp_record_t *>(entry->data));
        if (found != 0) {
            *channel = found;
            return 0;
        }
    }
    return -1;
}

extern "C" VREN_API int spp_connect(const bdaddr_t *local, const bdaddr_t *remote, uint8_t channel, int *sock) {
    if (local == nullptr || remote == nullptr || sock == nullptr) {
        printDebugLog(kConnectTag, "Invalid argument.");
        return VREN_E_BT_CONNECT;
    }
    *sock = socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_CLOEXEC, BTPROTO_RFCOMM);
    if (*sock < 0) {
        printDebugLog(kConnectTag, "Failed to call socket().");
        return VREN_E_BT_SOCKET;
    }

    sockaddr_rc address{};
    address.rc_family = AF_BLUETOOTH;
    bacpy(&address.rc_bdaddr, local);
    address.rc_channel = 0;  // any local channel
    if (bind(*sock, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        printDebugLog(kConnectTag, "Failed to call bind().");
        closeSocket(sock);
        return VREN_E_BT_BIND;
    }

    bacpy(&address.rc_bdaddr, remote);
    address.rc_channel = channel;
    for (int busyWaits = 0;; ++busyWaits) {
        if (connect(*sock, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return VREN_OK;
        const int error = errno;
        printDebugLog(kConnectTag, "Failed to call connect().");
        if (error != EBUSY)
            break;
        if (busyWaits == kBusyRetries) {
            printDebugLog(kConnectTag, "Bluetooth device is still busy after %d retries.", kBusyRetries);
            break;
        }
        printDebugLog(kConnectTag, "Bluetooth device is busy. Reconnect after 10 secs.");
        vren::pause(kBusyPause);
    }
    closeSocket(sock);
    return VREN_E_BT_CONNECT;
}

extern "C" VREN_API int openDeviceBluetooth(bdaddr_t device) {
    printDebugLog(kOpenTag, "start");
    bdaddr_t any{};  // any local adapter

    uint8_t channel = 0;
    for (int attempt = 1;; ++attempt) {
        bool reached = false;
        if (discoverChannel(any, device, channel, reached))
            break;
        if (!reached) {
            printDebugLog(kOpenTag, "Failed to sdp_connect().");
            return VREN_E_BT_SDP_CONNECT;
        }
        printDebugLog(kOpenTag, "Failed to get service info.");
        if (attempt == kDiscoveryAttempts)
            return VREN_E_BT_NO_SERVICE;
        vren::pause(kDiscoveryPause);
        printDebugLog(kOpenTag, "Retry to get service info.");
    }

    for (int attempt = 1;; ++attempt) {
        int sock = -1;
        if (spp_connect(&any, &device, channel, &sock) >= 0) {
            printDebugLog(kOpenTag, "Success port open.");
            return sock;
        }
        printDebugLog(kOpenTag, "Failed to connect.");
        if (attempt == kConnectAttempts)
            return VREN_E_BT_CONNECT;
        vren::pause(kConnectPause);
        printDebugLog(kOpenTag, "Retry to connect.");
    }
}
