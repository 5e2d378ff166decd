// Group commit for the collection port: the hits of the requests read since the last commit, stored in
// one transaction.
#include "store/commit_group.h"

#include <cstdio>
#include <utility>

namespace zncip::collector
{

CommitGroup::CommitGroup(HitWriter& store) : store_(store) {}

void CommitGroup::add(std::vector<HitRecord> hits, Done done)
{
    // Room first, so that a request is either whole in the group or not in it at all.
    hits_.reserve(hits_.size() + hits.size());
    ends_.reserve(ends_.size() + 1);
    waiting_.reserve(waiting_.size() + 1);
    for (HitRecord& h : hits)
        hits_.push_back(std::move(h));
    ends_.push_back(hits_.size());
    waiting_.push_back(std::move(done));
}

void CommitGroup::swap(CommitGroup& other) noexcept
{
    hits_.swap(other.hits_);
    ends_.swap(other.ends_);
    waiting_.swap(other.waiting_);
}

void CommitGroup::commit()
{
    if (waiting_.empty())
        return;
    const Outcome whole = append(hits_);
    if (whole != Outcome::Refused || waiting_.size() == 1)
        for (const Done& done : waiting_)
            done(whole == Outcome::Stored);
    else
        for (size_t i = 0, begin = 0; i < waiting_.size(); begin = ends_[i++])
        {
            const auto first = hits_.begin();
            const std::vector<HitRecord> alone(first + static_cast<std::ptrdiff_t>(begin),
                                               first + static_cast<std::ptrdiff_t>(ends_[i]));
            waiting_[i](append(alone) == Outcome::Stored);
        }
    hits_.clear();
    ends_.clear();
    waiting_.clear();
}

CommitGroup::Outcome CommitGroup::append(const std::vector<HitRecord>& hits)
{
    try
    {
        store_.append(hits);
        return Outcome::Stored;
    }
    catch (const StoreError& e)
    {
        std::fprintf(stderr, "zncip-collector: %zu hit(s) not stored: %s\n", hits.size(), e.what());
        return e.unavailable() ? Outcome::Unavailable : Outcome::Refused;
    }
    catch (const std::exception& e) // out of memory included: the server must live on
    {
        std::fprintf(stderr, "zncip-collector: %zu hit(s) not stored: %s\n", hits.size(), e.what());
        return Outcome::Unavailable;
    }
}

} // namespace zncip::collector
