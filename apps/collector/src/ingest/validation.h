// What the protocol requires of one hit, and the limits of a /collect or /batch body.
#pragma once

#include "ingest/form.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zncip::collector
{

// Limits of Measurement Protocol v1: one hit per /collect body, and for /batch at most 20 hits of
// that size in at most 16 KB.
constexpr size_t kMaxHitBytes = 8192;
constexpr size_t kMaxBatchBytes = 16384;
constexpr size_t kMaxBatchHits = 20;

// The largest integer a hit may carry (the module's values are 32-bit). Rollups add values up per key and
// day in 64 bits: at this bound it would take 2^32 hits on one key in one day to overflow, far beyond what
// the collectors can store in a day, so no client can overflow a sum another client's hits share.
constexpr int64_t kMaxInteger = 2147483647;

struct Problem
{
    std::string parameter; // empty when the problem concerns the whole hit
    std::string description;
};

struct Verdict
{
    std::vector<Problem> problems;

    bool valid() const { return problems.empty(); }
    // All problems on one line, as stored with a rejected hit.
    std::string reason() const;
};

// Checks what the protocol requires of one hit. The verdict lists the problems found, not just the
// first, so one look at a rejected hit tells the story: at most ten, then how many more there are, with
// parameter names cut after 64 bytes.
Verdict validateHit(std::string_view body, const DecodedForm& form);
Verdict validateHit(std::string_view body);

} // namespace zncip::collector
