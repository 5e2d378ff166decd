// The `export` command's output: every stored hit, one JSON object per line.
#pragma once

#include "store/hit_store.h"

#include <ostream>
#include <string>
#include <string_view>

namespace zncip::collector
{

// One JSON object per line: id, time received (UTC, ISO 8601), path, accepted, reason (null when
// accepted), the decoded parameters as [name, value] pairs in order, the raw body and the user agent.
// A body that is not valid UTF-8 cannot be a JSON string as it is, so it is given as "body_base64".
std::string exportLine(const StoredHit& hit);
void exportAll(const HitStore& store, std::ostream& out);

} // namespace zncip::collector
