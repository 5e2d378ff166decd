// The collection port's fixed answers, built once and shared by every connection.
#include "ingest/collect_answers.h"

#include <cstring>
#include <initializer_list>

namespace zncip::collector
{
namespace
{

// The protocol's answer to a hit: a transparent 1x1 GIF.
const unsigned char kPixel[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0xff,
                                0x00, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00,
                                0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};

MHD_Response* textResponse(const char* text)
{
    MHD_Response* r =
        MHD_create_response_from_buffer(std::strlen(text), const_cast<char*>(text), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    return r;
}

} // namespace

CollectAnswers::CollectAnswers()
{
    pixel = MHD_create_response_from_buffer(sizeof kPixel, const_cast<unsigned char*>(kPixel),
                                            MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(pixel, MHD_HTTP_HEADER_CONTENT_TYPE, "image/gif");
    MHD_add_response_header(pixel, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache, no-store, must-revalidate");
    notFound = textResponse("not found\n");
    notAllowed = textResponse("method not allowed\n");
    MHD_add_response_header(notAllowed, MHD_HTTP_HEADER_ALLOW, "POST");
    tooLarge = textResponse("request body too large\n");
    badBatch = textResponse("a batch holds at most 20 hits of at most 8192 bytes, 16384 bytes in all\n");
    // Both are answered before the body is read, so the connection cannot carry another request.
    badFraming = textResponse("conflicting Content-Length or Transfer-Encoding headers\n");
    MHD_add_response_header(badFraming, MHD_HTTP_HEADER_CONNECTION, "close");
    headTooLarge = textResponse("request line and headers too large\n");
    MHD_add_response_header(headTooLarge, MHD_HTTP_HEADER_CONNECTION, "close");
    // The client keeps a hit that is not answered 2xx and sends it again later.
    unavailable = textResponse("the hit could not be stored; send it again later\n");
    MHD_add_response_header(unavailable, "Retry-After", "30");
    closing = textResponse("the collector is stopping; send it again later\n");
    MHD_add_response_header(closing, "Retry-After", "30");
    MHD_add_response_header(closing, MHD_HTTP_HEADER_CONNECTION, "close");
}

CollectAnswers::~CollectAnswers()
{
    for (MHD_Response* r :
         {pixel, notFound, notAllowed, tooLarge, badBatch, badFraming, headTooLarge, unavailable, closing})
        MHD_destroy_response(r);
}

} // namespace zncip::collector
