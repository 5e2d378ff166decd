#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zncip::collector
{

// One request body as it arrived, with the verdict given to it.
struct HitRecord
{
    int64_t receivedUs = 0; // microseconds since the Unix epoch
    std::string path;       // the path it was posted to: "/collect" or "/batch"
    std::string body;       // exactly the bytes received (one line of a /batch body)
    bool accepted = false;
    std::string reason; // why it was rejected; empty when accepted
    std::string userAgent;
};

struct StoredHit : HitRecord
{
    int64_t id = 0;
};

class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Where hits are kept. append() is all or nothing: when it returns, every hit is durable; when it throws,
// none of them is, and the caller answers so that the client sends them again.
class HitStore
{
public:
    virtual ~HitStore() = default;
    virtual void append(const std::vector<HitRecord>& hits) = 0;
    // Calls visit for each stored hit in the order of arrival.
    virtual void forEach(const std::function<void(const StoredHit&)>& visit) const = 0;
    virtual int64_t count() const = 0;
};

struct SqliteOptions
{
    // FULL syncs the write-ahead log on every commit, so an answered hit survives a power cut; NORMAL
    // only writes it to the operating system, which survives the process being killed but not the machine.
    bool syncFull = true;
    int busyTimeoutMs = 5000;
    bool readOnly = false; // for report and export: never creates or migrates a database
};

// Opens (and creates, and migrates to the current schema) an SQLite database. Throws StoreError with a
// message fit for the user when the file cannot be opened, written or understood.
std::unique_ptr<HitStore> openSqliteStore(const std::string& path, const SqliteOptions& options = {});

// The schema version this build writes; a database with a newer one is refused.
int sqliteSchemaVersion();

} // namespace zncip::collector
