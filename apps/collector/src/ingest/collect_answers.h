// The collection port's fixed answers, built once and shared by every connection: the library only reads
// a response it is given, so any thread may queue them.
#pragma once

#include <microhttpd.h>

namespace zncip::collector
{

struct CollectAnswers
{
    CollectAnswers();
    ~CollectAnswers();
    CollectAnswers(const CollectAnswers&) = delete;
    CollectAnswers& operator=(const CollectAnswers&) = delete;

    MHD_Response* pixel = nullptr; // the protocol's answer to a hit, stored or rejected
    MHD_Response* notFound = nullptr;
    MHD_Response* notAllowed = nullptr;
    MHD_Response* tooLarge = nullptr;
    MHD_Response* badBatch = nullptr;
    MHD_Response* badFraming = nullptr;
    MHD_Response* headTooLarge = nullptr;
    MHD_Response* unavailable = nullptr; // not stored: the client keeps the hit and sends it again
    MHD_Response* closing = nullptr;
};

} // namespace zncip::collector
