// The sign-in form, the sign-out and the refusals of the admin listener (see sign_in.h); called from the
// HTTP library's threads.
#include "admin/sign_in.h"

#include "ingest/form.h"

#include <microhttpd.h>

#include <cstdio>

namespace zncip::collector
{
namespace
{

const char kCookie[] = "zncip_admin";
const char kCookieAttributes[] = "; Path=/; HttpOnly; SameSite=Strict";

const char kLoginPage[] = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>ZnCIP collector: sign in</title>
<link rel="stylesheet" href="/static/app.css"></head>
<body class="login"><form method="post" action="/login">
<h1>ZnCIP collector</h1>%s
<label>Admin token <input type="password" name="token" autofocus></label>
<button type="submit">Sign in</button>
</form></body></html>
)";

AdminAnswer redirect(const char* to, std::string why)
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

AdminAnswer loginPage(unsigned status, const std::string& message)
{
    std::string html(sizeof kLoginPage + message.size(), '\0');
    html.resize(static_cast<size_t>(std::snprintf(html.data(), html.size(), kLoginPage, message.c_str())));
    return {status, "text/html; charset=utf-8", html, {}};
}

} // namespace

const char* sessionCookie()
{
    return kCookie;
}

AdminAnswer signIn(AdminAuth& auth, const std::string& method, const std::string& client,
                   const std::string* form)
{
    if (!auth.tokenRequired())
        return redirect("/", "no token is needed here\n");
    if (method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD)
        return loginPage(MHD_HTTP_OK, "");
    if (method != MHD_HTTP_METHOD_POST)
        return plainAnswer(MHD_HTTP_METHOD_NOT_ALLOWED, "GET or POST\n");
    if (!form)
        return plainAnswer(MHD_HTTP_CONTENT_TOO_LARGE, "the sign-in form is too large\n");
    std::string given;
    for (const FormField& f : decodeForm(*form).fields)
        if (f.name == "token")
            given = f.value;
    std::string session;
    switch (auth.signIn(client, given, session))
    {
    case AdminAuth::Verdict::Allowed:
        break;
    case AdminAuth::Verdict::Locked:
    {
        const long wait = auth.retryAfter(client);
        return tooSoon(wait, loginPage(0, "<p class=\"error\">Too many wrong tokens: try again in " +
                                              std::to_string(wait) + " s.</p>"));
    }
    default:
        return loginPage(MHD_HTTP_UNAUTHORIZED, "<p class=\"error\">That is not the admin token.</p>");
    }
    AdminAnswer a = redirect("/", "signed in\n");
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
    AdminAnswer a = redirect("/login", "signed out\n");
    a.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=" + kCookieAttributes + "; Max-Age=0");
    return a;
}

std::optional<AdminAnswer> refusal(AdminAuth& auth, const std::string& client, std::string_view authorization,
                                   std::string_view cookie, bool api)
{
    const AdminAuth::Verdict verdict = auth.check(client, authorization, cookie);
    if (verdict == AdminAuth::Verdict::Allowed)
        return std::nullopt;
    if (verdict == AdminAuth::Verdict::Locked)
        return tooSoon(auth.retryAfter(client),
                       plainAnswer(0, "too many wrong admin tokens from this address: try again later\n"));
    if (!api)
        return redirect("/login", "sign in at /login\n");
    AdminAnswer a = plainAnswer(MHD_HTTP_UNAUTHORIZED, "a bearer token is required\n");
    a.headers.emplace_back("WWW-Authenticate", "Bearer");
    return a;
}

} // namespace zncip::collector
