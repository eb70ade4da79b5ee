// The fake printer's SDP server: sessions, and service records built with
// BlueZ's own functions so that the library releases them with the real ones.
#include <bluetooth/bluetooth.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <set>

#include "fake_devices.h"
#include "fake_internal.h"

namespace vren::fake {
namespace {

struct SdpState {
    std::mutex mutex;
    bool reachable = true;
    int reachableSessions = -1;  // sdp_connect calls answered; negative: no limit
    std::vector<std::vector<SdpService>> offers;
    std::vector<SdpConnect> connects;
    std::vector<SdpSearch> searches;
    std::set<sdp_session_t *> sessions;
};

SdpState &sdp() {
    static SdpState *const instance = new SdpState;
    return *instance;
}

// L2CAP, then RFCOMM with its channel (when the service has one).
void addProtocols(sdp_record_t *record, const SdpService &service) {
    uuid_t l2cap;
    uuid_t rfcomm;
    sdp_uuid16_create(&l2cap, L2CAP_UUID);
    sdp_uuid16_create(&rfcomm, RFCOMM_UUID);
    uint8_t channel = static_cast<uint8_t>(service.channel);
    sdp_data_t *channelData = sdp_data_alloc(SDP_UINT8, &channel);

    sdp_list_t *l2capList = sdp_list_append(nullptr, &l2cap);
    sdp_list_t *protocols = sdp_list_append(nullptr, l2capList);
    sdp_list_t *rfcommList = nullptr;
    if (service.channel >= 0) {
        rfcommList = sdp_list_append(nullptr, &rfcomm);
        sdp_list_append(rfcommList, channelData);
        sdp_list_append(protocols, rfcommList);
    }
    sdp_list_t *access = sdp_list_append(nullptr, protocols);
    sdp_set_access_protos(record, access);  // copies what it is given

    sdp_list_free(access, nullptr);
    sdp_list_free(protocols, nullptr);
    sdp_list_free(rfcommList, nullptr);
    sdp_list_free(l2capList, nullptr);
    sdp_data_free(channelData);
}

// What a server returns for one record: only the attributes asked for.
sdp_record_t *recordOf(const SdpService &service, bool withProtocols) {
    sdp_record_t *record = sdp_record_alloc();
    if (withProtocols && service.protocols)
        addProtocols(record, service);
    return record;
}

bool contains(const std::vector<uint16_t> &values, uint16_t value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace

namespace detail {

void resetSdp() {
    SdpState &s = sdp();
    std::lock_guard lock(s.mutex);
    s.reachable = true;
    s.reachableSessions = -1;
    s.offers.clear();
    s.connects.clear();
    s.searches.clear();
    // Sessions the library failed to close stay allocated; sdpSessionsOpen()
    // has told the test about them.
    s.sessions.clear();
}

}  // namespace detail

void setSdpReachable(bool reachable) {
    std::lock_guard lock(sdp().mutex);
    sdp().reachable = reachable;
}

void setSdpReachableFor(int sessions) {
    std::lock_guard lock(sdp().mutex);
    sdp().reachableSessions = sessions;
}

void setSdpOffers(std::vector<std::vector<SdpService>> perSearch) {
    std::lock_guard lock(sdp().mutex);
    sdp().offers = std::move(perSearch);
}

std::vector<SdpConnect> sdpConnects() {
    std::lock_guard lock(sdp().mutex);
    return sdp().connects;
}

std::vector<SdpSearch> sdpSearches() {
    std::lock_guard lock(sdp().mutex);
    return sdp().searches;
}

int sdpSessionsOpen() {
    std::lock_guard lock(sdp().mutex);
    return static_cast<int>(sdp().sessions.size());
}

}  // namespace vren::fake

using vren::fake::sdp;

extern "C" sdp_session_t *sdp_connect(const bdaddr_t *source, const bdaddr_t *target, uint32_t flags) {
    auto &s = sdp();
    std::lock_guard lock(s.mutex);
    vren::fake::SdpConnect call{};
    if (source != nullptr)
        bacpy(&call.source, source);
    if (target != nullptr)
        bacpy(&call.target, target);
    call.flags = flags;
    s.connects.push_back(call);
    if (!s.reachable || (s.reachableSessions >= 0 && static_cast<int>(s.connects.size()) > s.reachableSessions)) {
        errno = EHOSTDOWN;
        return nullptr;
    }
    auto *session = new sdp_session_t{};
    session->sock = -1;
    s.sessions.insert(session);
    return session;
}

extern "C" int sdp_close(sdp_session_t *session) {
    auto &s = sdp();
    std::lock_guard lock(s.mutex);
    if (s.sessions.erase(session) == 0) {
        errno = EINVAL;
        return -1;
    }
    delete session;
    return 0;
}

extern "C" int sdp_service_search_attr_req(sdp_session_t *session, const sdp_list_t *search,
                                           sdp_attrreq_type_t requestType, const sdp_list_t *attributes,
                                           sdp_list_t **response) {
    vren::fake::SdpSearch seen{{}, requestType, {}};
    for (const sdp_list_t *entry = search; entry != nullptr; entry = entry->next) {
        const auto *uuid = static_cast<const uuid_t *>(entry->data);
        seen.uuids.push_back(uuid->type == SDP_UUID16 ? uuid->value.uuid16 : 0);
    }
    // Individual attribute IDs are 16 bits wide, ranges 32 bits (first, last).
    bool wantsProtocols = false;
    for (const sdp_list_t *entry = attributes; entry != nullptr; entry = entry->next) {
        if (requestType == SDP_ATTR_REQ_INDIVIDUAL) {
            const uint16_t id = *static_cast<const uint16_t *>(entry->data);
            seen.attributes.push_back(id);
            wantsProtocols = wantsProtocols || id == SDP_ATTR_PROTO_DESC_LIST;
        } else {
            const uint32_t range = *static_cast<const uint32_t *>(entry->data);
            wantsProtocols = wantsProtocols || ((range >> 16) <= SDP_ATTR_PROTO_DESC_LIST &&
                                                (range & 0xFFFF) >= SDP_ATTR_PROTO_DESC_LIST);
        }
    }

    auto &s = sdp();
    std::lock_guard lock(s.mutex);
    const size_t index = s.searches.size();
    s.searches.push_back(seen);
    if (response == nullptr || s.sessions.count(session) == 0) {
        errno = EINVAL;
        return -1;
    }
    *response = nullptr;
    if (s.offers.empty())
        return 0;
    const auto &offered = s.offers[std::min(index, s.offers.size() - 1)];
    for (const vren::fake::SdpService &service : offered) {
        if (vren::fake::contains(seen.uuids, service.serviceClass))
            *response = sdp_list_append(*response, vren::fake::recordOf(service, wantsProtocols));
    }
    return 0;
}
