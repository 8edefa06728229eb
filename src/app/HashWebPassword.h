#pragma once
// The web-server password hash lives with the web server, which checks log-ins against it; the
// settings pages use the same function (see web/HashWebPassword.h).
#include "web/HashWebPassword.h"

namespace velloran::app {

using web::HashWebPassword;
using web::kWebPasswordSalt;

}  // namespace velloran::app
