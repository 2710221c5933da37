// LVEmailAccess --authorize: the one-time sign-in at the provider, made by a
// person at a terminal, which leaves the refresh token in LVEmailAccess.token.
//
// Two ways, chosen by the settings:
//  * with a device endpoint (Microsoft): the person is shown an address and
//    a code to type there, on any device; meanwhile the token endpoint is
//    polled at the interval it asks for, slower when it says "slow_down",
//    until the code is entered, refused or expired;
//  * with an authorization endpoint (Google): the person opens the shown
//    address in a browser on this computer; the provider sends the browser
//    back to a listener on 127.0.0.1 with a code, which is exchanged with the
//    PKCE verifier only this run knows. An answer whose state differs is not
//    taken.
// Neither token is shown or logged. Throws TransportError (temporary when
// the service is out of reach) and std::runtime_error when the sign-in was
// refused, expired or ran out of time.
#pragma once

#include "emailaccess/config.h"
#include "emailaccess/event_log.h"

#include <iosfwd>
#include <string>

namespace emailaccess {

// Signs in and saves the result; reports progress on `out`.
void Authorize(const Config& config, EventLog& log, std::ostream& out);

// BASE64URL(SHA-256(verifier)) without padding: PKCE's S256 challenge.
std::string PkceChallenge(const std::string& verifier);

// The decoded value of `name` in the query of a request target
// ("/?code=a%2Fb&state=x"); empty when absent.
std::string QueryValue(const std::string& target, const std::string& name);

}  // namespace emailaccess
