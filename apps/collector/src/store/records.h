// The hits as the collector keeps them: as they arrived, with the verdict and the facts read from them.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace zncip::collector
{

// What every report needs of one hit, decoded once when it arrives and stored beside the raw body.
// Absent parameters are empty strings. A rejected hit keeps only its day and, when it names one, its
// client, so that forgetting a client removes its rejected hits too.
struct HitFacts
{
    int32_t day = 0;    // days since 1970-01-01, UTC, of the time received
    std::string client; // cid, or uid when there is no cid
    // Its uid when it also carries a cid (which is then its client), so that forgetting that uid forgets
    // the client of the cid too; empty otherwise.
    std::string uidBesideCid;
    std::string type;                    // t
    std::string application, version;    // an, av
    std::string category, action, label; // ec, ea, el
    std::optional<int64_t> value;        // ev
};

// One request body as it arrived, with the verdict given to it.
struct HitRecord
{
    int64_t receivedUs = 0; // microseconds since the Unix epoch
    std::string path;       // the path it was posted to: "/collect" or "/batch"
    std::string body;       // exactly the bytes received (one line of a /batch body)
    bool accepted = false;
    std::string reason; // why it was rejected; empty when accepted
    std::string userAgent;
    // Decoded by the request's thread, so that the one thread that writes does not have to; when absent
    // the store decodes the body.
    std::optional<HitFacts> facts;
};

struct StoredHit : HitRecord
{
    int64_t id = 0;
};

class StoreError : public std::runtime_error
{
public:
    // unavailable: the database could not be reached at all, so that trying the same hits in smaller
    // transactions would fail the same way.
    explicit StoreError(const std::string& what, bool unavailable = false)
        : std::runtime_error(what), unavailable_(unavailable)
    {
    }
    bool unavailable() const { return unavailable_; }

private:
    bool unavailable_;
};

} // namespace zncip::collector
