// The store a --db argument names: PostgreSQL for a postgresql:// address, SQLite otherwise.
#include "store/hit_store.h"

namespace zncip::collector
{

std::unique_ptr<HitStore> openStore(const std::string& address, const StoreOptions& options)
{
    if (address.rfind("postgresql://", 0) == 0 || address.rfind("postgres://", 0) == 0)
        return openPostgresStore(address, options);
    return openSqliteStore(address, options);
}

} // namespace zncip::collector
