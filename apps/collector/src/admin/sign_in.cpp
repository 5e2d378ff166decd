// The sign-in form, the sign-out and the refusals of the admin listener (see sign_in.h); called from the
// HTTP library's threads.
#include "admin/sign_in.h"

#include "ingest/form.h"

#include <microhttpd.h>

#include <cctype>
#include <cstdio>

namespace zncip::collector
{
namespace
{

const char kCookie[] = "zncip_admin";
const char kReturn[] = "next";
const char kLoginPath[] = "/login";
const char kCookieAttributes[] = "; Path=/; HttpOnly; SameSite=Strict";

const char kLoginPage[] = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1"><title>ZnCIP collector: sign in</title>
<link rel="stylesheet" href="/static/app.css"></head>
<body class="login"><form method="post" action="/login">
<h1>ZnCIP collector</h1>%s
<input type="hidden" name="next" value="%s">
<label>Admin token <input type="password" name="token" autofocus></label>
<button type="submit">Sign in</button>
</form></body></html>
)";

AdminAnswer redirect(const std::string& to, std::string why)
{
    AdminAnswer a = plainAnswer(MHD_HTTP_SEE_OTHER, std::move(why));
    a.headers.emplace_back("Location", to);
    return a;
}

AdminAnswer tooSoon(long seconds, AdminAnswer a)
{
    a.status = MHD_HTTP_TOO_MANY_REQUESTS;
    a.headers.emplace_back("Retry-After", std::to_string(seconds));
    return a;
}

// A page of this listener to return to: a path of its own with a query, nothing that a browser could
// read as another site ("//host", "/\\host") and no character that a header or an attribute would need
// escaped. Anything else returns to the overview.
std::string returnPath(std::string_view asked)
{
    const bool local = asked.size() >= 1 && asked[0] == '/' && asked.substr(0, 2) != "//" &&
                       asked.rfind(kLoginPath, 0) != 0 &&
                       asked.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                               "0123456789-._~/?=&%+") == std::string_view::npos;
    return local ? std::string(asked) : "/";
}

// The sign-in form; asked is a returnPath, whose only character an attribute needs escaped is '&'.
AdminAnswer loginPage(unsigned status, const std::string& message, const std::string& asked)
{
    std::string attribute;
    for (const char c : asked)
        attribute += c == '&' ? std::string("&amp;") : std::string(1, c);
    std::string html(sizeof kLoginPage + message.size() + attribute.size(), '\0');
    html.resize(static_cast<size_t>(
        std::snprintf(html.data(), html.size(), kLoginPage, message.c_str(), attribute.c_str())));
    return {status, "text/html; charset=utf-8", html, {}};
}

} // namespace

const char* sessionCookie()
{
    return kCookie;
}

const char* returnArgument()
{
    return kReturn;
}

std::string percentEncoded(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text)
    {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/')
            out += c;
        else
            out += {'%', hex[b >> 4], hex[b & 15]};
    }
    return out;
}

AdminAnswer signIn(AdminAuth& auth, const std::string& method, const std::string& client,
                   const std::string* form, std::string_view asked)
{
    std::string back = returnPath(asked);
    if (!auth.tokenRequired())
        return redirect(back, "no token is needed here\n");
    if (method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD)
        return loginPage(MHD_HTTP_OK, "", back);
    if (method != MHD_HTTP_METHOD_POST)
        return plainAnswer(MHD_HTTP_METHOD_NOT_ALLOWED, "GET or POST\n");
    if (!form)
        return plainAnswer(MHD_HTTP_CONTENT_TOO_LARGE, "the sign-in form is too large\n");
    std::string given;
    for (const FormField& f : decodeForm(*form).fields)
        if (f.name == "token")
            given = f.value;
        else if (f.name == kReturn)
            back = returnPath(f.value);
    std::string session;
    switch (auth.signIn(client, given, session))
    {
    case AdminAuth::Verdict::Allowed:
        break;
    case AdminAuth::Verdict::Locked:
    {
        const long wait = auth.retryAfter(client);
        return tooSoon(wait, loginPage(0, "<p class=\"error\">Too many wrong tokens: try again in " +
                                              std::to_string(wait) + " s.</p>",
                                          back));
    }
    default:
        return loginPage(MHD_HTTP_UNAUTHORIZED, "<p class=\"error\">That is not the admin token.</p>", back);
    }
    AdminAnswer a = redirect(back, "signed in\n");
    a.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=" + session + kCookieAttributes +
                                             "; Max-Age=" + std::to_string(auth.sessionLifetime().count()));
    return a;
}

AdminAnswer signOut(AdminAuth& auth, const std::string& method, std::string_view cookie)
{
    if (method != MHD_HTTP_METHOD_POST)
    {
        AdminAnswer a = plainAnswer(MHD_HTTP_METHOD_NOT_ALLOWED, "sign out with POST\n");
        a.headers.emplace_back("Allow", "POST");
        return a;
    }
    if (!cookie.empty())
        auth.signOut(cookie);
    AdminAnswer a = redirect(kLoginPath, "signed out\n");
    a.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=" + kCookieAttributes + "; Max-Age=0");
    return a;
}

std::optional<AdminAnswer> refusal(AdminAuth& auth, const std::string& client, std::string_view authorization,
                                   std::string_view cookie, bool api, const std::string& asked)
{
    const AdminAuth::Verdict verdict = auth.check(client, authorization, cookie);
    if (verdict == AdminAuth::Verdict::Allowed)
        return std::nullopt;
    if (verdict == AdminAuth::Verdict::Locked)
        return tooSoon(auth.retryAfter(client),
                       plainAnswer(0, "too many wrong admin tokens from this address: try again later\n"));
    if (!api)
        return redirect(std::string(kLoginPath) + "?" + kReturn + "=" + percentEncoded(asked),
                        "sign in at /login\n");
    AdminAnswer a = plainAnswer(MHD_HTTP_UNAUTHORIZED, "a bearer token is required\n");
    a.headers.emplace_back("WWW-Authenticate", "Bearer");
    return a;
}

} // namespace zncip::collector
