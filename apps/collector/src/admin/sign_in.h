// The admin listener's answers about credentials: the sign-in form and its POST, the sign-out, and the
// refusal of a request without a valid credential. AdminServer calls them from the HTTP library's
// threads, after the Host check; the AdminAuth they are given locks what it changes.
#pragma once

#include "admin/admin_api.h"
#include "admin/admin_auth.h"

#include <optional>
#include <string>
#include <string_view>

namespace zncip::collector
{

// The cookie that carries a session id.
const char* sessionCookie();

// The argument of /login, and the field of its form, that names the page to return to once signed in.
const char* returnArgument();

// GET or POST /login; form is the POST body (nullptr when it was too large); asked is the page the person
// asked for (the GET's return argument; the POST carries it in its form). It is returned to only when it
// is a path of this listener, never another site.
AdminAnswer signIn(AdminAuth& auth, const std::string& method, const std::string& client,
                   const std::string* form, std::string_view asked);
// POST /logout with the session cookie, if any.
AdminAnswer signOut(AdminAuth& auth, const std::string& method, std::string_view cookie);
// Why a request is not answered (a page sends to the form, which returns to `asked`, its path and query;
// the API wants a bearer token; an address that gave wrong tokens waits); nothing when its credential is
// valid.
std::optional<AdminAnswer> refusal(AdminAuth& auth, const std::string& client, std::string_view authorization,
                                   std::string_view cookie, bool api, const std::string& asked);

// Text with every byte but the unreserved ones (RFC 3986) and '/' percent-encoded: safe in a query, a
// Location header and an HTML attribute alike.
std::string percentEncoded(std::string_view text);

} // namespace zncip::collector
